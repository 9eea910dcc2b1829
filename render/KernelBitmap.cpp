#include "render/KernelBitmap.h"

#include <cstdlib>

namespace pm {

namespace {

int bytesFor(KernelLayout layout) {
    return layout == KernelLayout::Yuy2 ? 2 : 4;
}

}  // namespace

bool KernelBitmap::valid() const {
    if (pixels == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    if (layout != KernelLayout::Yuy2 && layout != KernelLayout::Bgra32) {
        return false;
    }
    if (bytesPerPixel != bytesFor(layout)) {
        return false;
    }
    return static_cast<long long>(std::llabs(pitch)) >=
           static_cast<long long>(width) * bytesPerPixel;
}

KernelBitmap KernelBitmap::region(int x, int y, int w, int h) const {
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x > width - w || y > height - h) {
        return {};
    }
    // A pair of Yuy2 pixels shares its chroma, so a region must start on a pair.
    if (layout == KernelLayout::Yuy2 && (x % 2) != 0) {
        return {};
    }
    KernelBitmap r = *this;
    r.width = w;
    r.height = h;
    r.pixels = row(y) + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
    return r;
}

void KernelBitmap::adoptCopy(std::vector<std::uint8_t> bytes, int newPitch,
                             KernelLayout newLayout) {
    convertedCopy = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    pixels = convertedCopy->data();
    pitch = newPitch;
    layout = newLayout;
    bytesPerPixel = bytesFor(newLayout);
}

}  // namespace pm
