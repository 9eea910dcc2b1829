#pragma once

#include <cstdint>
#include <optional>

namespace pm {

// The per-picture memory limit: how big a decoded picture counts, and the size it is reduced to
// when it counts more than the limit allows.
class ImageMemoryBudget {
public:
    struct Size {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        bool operator==(const Size&) const = default;
    };

    // Whole megabytes, as the limit is compared: bitsPerPixel × (pixels >> 20) >> 3.
    static std::uint64_t megabytes(std::uint32_t bitsPerPixel, std::uint32_t width,
                                   std::uint32_t height);
    // The reduced size for a picture over `limitMegabytes`, or nothing when it fits (or there is
    // no positive limit).
    static std::optional<Size> reducedSize(std::uint32_t bitsPerPixel, std::uint32_t width,
                                           std::uint32_t height, int limitMegabytes);
};

}  // namespace pm
