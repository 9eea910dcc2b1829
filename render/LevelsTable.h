#pragma once

#include <array>
#include <cstdint>

#include "render/ImageBuffer.h"

namespace pm {

// A 256-entry tone curve for B, G and R. It starts as the identity; every step composes its curve
// after the current one.
class LevelsTable {
public:
    using Curve = std::array<std::uint8_t, 256>;
    using Histogram = std::array<std::uint32_t, 256>;

    LevelsTable();

    // Stretches the range between the first bins from either end holding at least
    // trunc(fullest bin × threshold) pixels.
    void autoLevels(const Histogram& histogram, double threshold);
    // Histogram of (B + G + R) / 3 of a Bgra32 or Bgr24 image.
    PixelStatus autoLevels(const ImageBuffer& image, double threshold = 0.025);
    // Percent, positive brightens / stretches.
    void brightness(double percent);
    void contrast(double percent);
    void levels(double gamma, int inLow, int inHigh, int outLow, int outHigh);
    // Maps B, G and R and copies alpha; destination may be the source.
    PixelStatus apply(const ImageBuffer& destination, const ImageBuffer& source) const;

    static PixelStatus histogramOf(const ImageBuffer& image, Histogram* histogram);
    static Curve levelsCurve(double gamma, int inLow, int inHigh, int outLow, int outHigh);
    const Curve& curve() const { return m_curve; }

private:
    void compose(const Curve& next);

    Curve m_curve;
};

}  // namespace pm
