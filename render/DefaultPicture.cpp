#include "render/DefaultPicture.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/PerfKit.h"

namespace pm {

namespace {

std::uint8_t channel(double v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

}  // namespace

PixelStatus DefaultPicture::draw(ImageBuffer* out) {
    if (const PixelStatus s = PerfKit::allocate(out, PixelFormat::Bgra32, kWidth, kHeight);
        s != PixelStatus::Ok) {
        return s;
    }
    // A dusk sky over a horizon with a low sun and a faint grid, so that pan, zoom and rotation
    // are easy to follow on a scene that has no picture yet.
    const double horizon = kHeight * 0.68;
    const double sunX = kWidth * 0.5;
    const double sunY = horizon;
    const double sunRadius = kHeight * 0.16;
    // The glow by distance from the sun, tabulated every 1/16 pixel: one exponential per entry
    // instead of one per pixel (the picture is drawn at every start).
    constexpr double kGlowSteps = 16.0;
    const double farthest =
        std::hypot(std::max(sunX, kWidth - sunX), std::max(sunY, kHeight - sunY));
    std::vector<double> glowAt(static_cast<std::size_t>((farthest - sunRadius) * kGlowSteps) + 2);
    for (std::size_t i = 0; i < glowAt.size(); ++i) {
        glowAt[i] = std::exp(-(static_cast<double>(i) / kGlowSteps) / (sunRadius * 0.8));
    }
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = out->row(static_cast<std::uint32_t>(y));
        for (int x = 0; x < kWidth; ++x) {
            double r, g, b;
            if (y < horizon) {
                const double t = y / horizon;
                r = 30 + 200 * t * t;
                g = 40 + 90 * t;
                b = 120 + 40 * (1 - t);
            } else {
                const double t = (y - horizon) / (kHeight - horizon);
                r = 40 - 25 * t;
                g = 30 - 15 * t;
                b = 60 - 30 * t;
            }
            const double dx = x - sunX;
            const double dy = y - sunY;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (y < horizon) {
                if (d < sunRadius) {
                    r = 255;
                    g = 200 + 40 * (1 - d / sunRadius);
                    b = 90;
                } else {
                    const double glow =
                        glowAt[static_cast<std::size_t>((d - sunRadius) * kGlowSteps + 0.5)];
                    r += (255 - r) * glow * 0.8;
                    g += (170 - g) * glow * 0.6;
                }
            } else if (std::fabs(dx) < sunRadius * (1.0 - (y - horizon) / (kHeight - horizon))) {
                // The sun's reflection on the water, in broken bands.
                if ((y / 6) % 2 == 0) {
                    r += 120;
                    g += 70;
                    b += 10;
                }
            }
            if (x % 64 == 0 || y % 64 == 0) {
                r += 18;
                g += 18;
                b += 18;
            }
            std::uint8_t* p = row + 4 * x;
            p[0] = channel(b);
            p[1] = channel(g);
            p[2] = channel(r);
            p[3] = 255;
        }
    }
    return PixelStatus::Ok;
}

const ImageBuffer& DefaultPicture::image() {
    static const ImageBuffer shared = [] {
        ImageBuffer b;
        draw(&b);
        return b;
    }();
    return shared;
}

}  // namespace pm
