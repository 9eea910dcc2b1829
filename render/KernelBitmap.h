#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pm {

// How the pixels of a kernel bitmap are laid out in memory.
enum class KernelLayout : int {
    Yuy2 = 0,    // 16 bits a pixel: Y0 U Y1 V for each pair of pixels
    Bgra32 = 1,  // 32 bits a pixel: B, G, R, A
};

// A bitmap as the polygon mapper sees it: a view on pixels owned elsewhere, or on its own
// converted copy when the layout had to be changed.
struct KernelBitmap {
    int width = 0;
    int height = 0;
    int pitch = 0;  // bytes from one row to the next; negative for bottom-up pictures
    std::uint8_t* pixels = nullptr;
    int bytesPerPixel = 4;
    int fieldSelector = 0;  // 0 whole frame, 2 first field (even rows), 3 second field (odd rows)
    KernelLayout layout = KernelLayout::Bgra32;
    // Keeps a converted copy alive for as long as any record points into it.
    std::shared_ptr<std::vector<std::uint8_t>> convertedCopy;

    std::uint8_t* row(int y) const { return pixels + static_cast<std::ptrdiff_t>(y) * pitch; }

    // Non-empty, bytes per pixel matching the layout, and rows wide enough for the width.
    bool valid() const;

    // The sub-rectangle [x, x + w) x [y, y + h), pointing into the same pixels; empty when it
    // does not lie inside the bitmap.
    KernelBitmap region(int x, int y, int w, int h) const;

    // Makes the record describe `bytes` (rows of `newPitch` bytes in `newLayout`) and own them.
    void adoptCopy(std::vector<std::uint8_t> bytes, int newPitch, KernelLayout newLayout);
};

}  // namespace pm
