#include "render/BlurFilter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "render/detail/ImageOps.h"
#include "render/detail/KernelSet.h"
#include "render/detail/RowHalves.h"

namespace pm {
namespace {

// Beyond this sigma the peak weight 256 / (sigma·sqrt(2π)) truncates to 0 and the kernel would
// have no weight to normalise; wider blurs keep this kernel.
constexpr double kMaxSigma = 102.0;

// Pictures smaller than this are not worth a second processor.
constexpr std::uint32_t kRowsWorthSplitting = 64;
constexpr std::uint32_t kColumnsWorthSplitting = 128;

}  // namespace

BlurFilter::BlurFilter(CodePath path) : m_path(path) {}

std::vector<std::uint8_t> BlurFilter::kernelFor(double radius) {
    if (!(radius > 0.5)) {
        return {255};
    }
    double sigma = radius / 2.0;
    sigma = sigma < 0.42 ? 0.42 : sigma;
    sigma = sigma > kMaxSigma ? kMaxSigma : sigma;
    const int l = static_cast<int>(std::ceil(4.0 * sigma));
    const int m = l / 2;
    const double pi = std::acos(-1.0);
    const double u = 256.0 / (sigma * std::sqrt(2.0 * pi));
    std::vector<int> w(static_cast<std::size_t>(m) + 1);
    w[0] = static_cast<int>(u);
    for (int i = 1; i <= m; ++i) {
        w[i] = static_cast<int>(u * std::exp(-(i * i) / (2.0 * sigma * sigma)));
    }
    int total = w[0];
    for (int i = 1; i <= m; ++i) {
        total += 2 * w[i];
    }
    for (int& weight : w) {
        weight = 256 * weight / total;
    }
    int remainder = 256 - w[0];
    for (int i = 1; i <= m; ++i) {
        remainder -= 2 * w[i];
    }
    for (int p = 0; remainder > 1; p = (p + 1) % (m + 1)) {
        ++w[p];
        remainder -= p == 0 ? 1 : 2;
    }
    w[0] += remainder;
    return std::vector<std::uint8_t>(w.begin(), w.end());
}

void BlurFilter::setRadii(double rx, double ry) {
    m_weightsX = kernelFor(rx);
    m_weightsY = kernelFor(ry);
}

PixelStatus BlurFilter::applyKeepAlpha(const ImageBuffer& destination, const ImageBuffer& source) {
    return run(destination, source, true);
}

PixelStatus BlurFilter::apply(const ImageBuffer& destination, const ImageBuffer& source) {
    return run(destination, source, false);
}

PixelStatus BlurFilter::run(const ImageBuffer& destination, const ImageBuffer& source,
                            bool keepAlpha) {
    for (const ImageBuffer* image : {&destination, &source}) {
        if (const PixelStatus s = detail::validateImage(*image); s != PixelStatus::Ok) {
            return s;
        }
        if (image->format != PixelFormat::Bgra32) {
            return PixelStatus::UnsupportedFormat;
        }
    }
    if (destination.width != source.width || destination.height != source.height) {
        return PixelStatus::InvalidSize;
    }
    if (m_weightsX.empty() || m_weightsY.empty()) {
        return PixelStatus::MissingFilterData;
    }
    const int width = static_cast<int>(source.width);
    const int height = static_cast<int>(source.height);
    const std::size_t pitch = static_cast<std::size_t>(width) * 4;
    try {
        if (m_temp.size() < pitch * static_cast<std::size_t>(height)) {
            m_temp.resize(pitch * static_cast<std::size_t>(height));
        }
    } catch (const std::bad_alloc&) {
        return PixelStatus::OutOfMemory;
    }
    const detail::KernelSet& k = detail::kernelsFor(m_path);
    const auto tempPitch = static_cast<std::ptrdiff_t>(pitch);
    // Each pass works on lines of its own, rows and then columns: on two processors each takes
    // half of them, and the result is that of one pass.
    std::atomic<bool> outOfMemory{false};
    const auto guarded = [&outOfMemory](const auto& work) {
        try {
            work();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    };
    detail::inRowHalves(
        0, source.height, kRowsWorthSplitting, [&](std::uint32_t first, std::uint32_t end) {
            guarded([&] {
                k.blurRows(width, static_cast<int>(end - first), m_temp.data() + first * pitch,
                           tempPitch, source.row(first), source.pitch, m_weightsX.data(),
                           static_cast<int>(m_weightsX.size()) - 1, keepAlpha);
            });
        });
    // The vector pass keeps running sums for strips of columns: halves at a strip's edge.
    const auto columnsOf = [width](std::uint32_t x) {
        return std::min<std::uint32_t>(static_cast<std::uint32_t>(width), x & ~15u);
    };
    detail::inRowHalves(
        0, source.width, kColumnsWorthSplitting, [&](std::uint32_t first, std::uint32_t end) {
            const std::uint32_t a = first == 0 ? 0 : columnsOf(first);
            const std::uint32_t b = end == source.width ? end : columnsOf(end);
            if (b <= a) {
                return;
            }
            guarded([&] {
                k.blurColumns(static_cast<int>(b - a), height,
                              destination.pixels + 4 * std::size_t{a}, destination.pitch,
                              m_temp.data() + 4 * std::size_t{a}, tempPitch, m_weightsY.data(),
                              static_cast<int>(m_weightsY.size()) - 1, keepAlpha);
            });
        });
    if (outOfMemory) {
        return PixelStatus::OutOfMemory;
    }
    return PixelStatus::Ok;
}

}  // namespace pm
