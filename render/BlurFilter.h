#pragma once

#include <cstdint>
#include <vector>

#include "render/ImageBuffer.h"
#include "render/RoutineTable.h"

namespace pm {

// Separable Gaussian blur of Bgra32 images with integer weights. Not shared between threads.
class BlurFilter {
public:
    explicit BlurFilter(CodePath path);

    void setRadii(double rx, double ry);
    void setRadius(double r) { setRadii(r, r); }
    // Blurs B, G and R and keeps each pixel's alpha. Destination may be the source.
    PixelStatus applyKeepAlpha(const ImageBuffer& destination, const ImageBuffer& source);
    // Blurs all four channels.
    PixelStatus apply(const ImageBuffer& destination, const ImageBuffer& source);

    // Weights w[0..m]; w[i] applies at distances +i and −i, and they total 256 (255 for a
    // radius of 0.5 or less).
    static std::vector<std::uint8_t> kernelFor(double radius);
    const std::vector<std::uint8_t>& weightsX() const { return m_weightsX; }
    const std::vector<std::uint8_t>& weightsY() const { return m_weightsY; }

private:
    PixelStatus run(const ImageBuffer& destination, const ImageBuffer& source, bool keepAlpha);

    CodePath m_path;
    std::vector<std::uint8_t> m_weightsX;
    std::vector<std::uint8_t> m_weightsY;
    std::vector<std::uint8_t> m_temp;
};

}  // namespace pm
