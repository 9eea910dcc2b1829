#include "render/ImageMemoryBudget.h"

#include <cmath>

namespace pm {

std::uint64_t ImageMemoryBudget::megabytes(std::uint32_t bitsPerPixel, std::uint32_t width,
                                           std::uint32_t height) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    return (bitsPerPixel * (pixels >> 20)) >> 3;
}

std::optional<ImageMemoryBudget::Size> ImageMemoryBudget::reducedSize(std::uint32_t bitsPerPixel,
                                                                      std::uint32_t width,
                                                                      std::uint32_t height,
                                                                      int limitMegabytes) {
    if (limitMegabytes <= 0) {
        return std::nullopt;
    }
    const std::uint64_t size = megabytes(bitsPerPixel, width, height);
    const auto limit = static_cast<std::uint64_t>(limitMegabytes);
    if (size <= limit) {
        return std::nullopt;
    }
    const double f = 1.0 / std::sqrt(static_cast<double>(size) / static_cast<double>(limit));
    Size reduced{static_cast<std::uint32_t>(f * width), static_cast<std::uint32_t>(f * height)};
    // A sliver of a picture still needs a pixel in each direction.
    reduced.width = reduced.width > 0 ? reduced.width : 1;
    reduced.height = reduced.height > 0 ? reduced.height : 1;
    return reduced;
}

}  // namespace pm
