#include "render/FrameFit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace pm {

ImageBuffer fittedArea(const ImageBuffer& frame, double aspect) {
    if (!(aspect > 0.0) || frame.width == 0 || frame.height == 0) {
        return frame;
    }
    const double shape = static_cast<double>(frame.width) / frame.height;
    if (std::abs(shape / aspect - 1.0) < 0.01) {
        return frame;
    }
    ImageBuffer area = frame;
    const std::size_t pixelBytes = frame.bitsPerPixel / 8;
    if (shape > aspect) {
        area.width =
            std::max<std::uint32_t>(2, static_cast<std::uint32_t>(frame.height * aspect) & ~1u);
        area.pixels += (frame.width - area.width) / 2 * pixelBytes;
    } else {
        area.height =
            std::max<std::uint32_t>(2, static_cast<std::uint32_t>(frame.width / aspect) & ~1u);
        area.pixels +=
            static_cast<std::ptrdiff_t>((frame.height - area.height) / 4 * 2) * frame.pitch;
    }
    return area;
}

std::array<ImageBuffer, 2> barsAround(const ImageBuffer& frame, const ImageBuffer& area) {
    std::array<ImageBuffer, 2> bars{};
    if (area.width == frame.width && area.height == frame.height) {
        return bars;
    }
    bars.fill(frame);
    if (area.height < frame.height) {
        bars[0].height = static_cast<std::uint32_t>((area.pixels - frame.pixels) / frame.pitch);
        bars[1].pixels = area.pixels + static_cast<std::ptrdiff_t>(area.height) * frame.pitch;
        bars[1].height = frame.height - area.height - bars[0].height;
    } else {
        const std::size_t pixelBytes = frame.bitsPerPixel / 8;
        bars[0].width = static_cast<std::uint32_t>((area.pixels - frame.pixels) / pixelBytes);
        bars[1].pixels = area.pixels + area.width * pixelBytes;
        bars[1].width = frame.width - area.width - bars[0].width;
    }
    return bars;
}

}  // namespace pm
