#include "render/DefaultPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
    const auto put = [](std::uint8_t* p, double r, double g, double b) {
        p[0] = channel(b);
        p[1] = channel(g);
        p[2] = channel(r);
        p[3] = 255;
    };
    // Each row has one colour but for the sun, its glow or its reflection and the grid: the
    // row's own colour is worked out once, and only those pixels one by one.
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = out->row(static_cast<std::uint32_t>(y));
        const bool gridRow = y % 64 == 0;
        const double lift = gridRow ? 18.0 : 0.0;
        if (y < horizon) {
            const double t = y / horizon;
            const double r0 = 30 + 200 * t * t;
            const double g0 = 40 + 90 * t;
            const double b0 = 120 + 40 * (1 - t);
            const double dy = y - sunY;
            // The sky is the same either side of the sun (x and 2 sunX - x), grid included:
            // the right half is worked out, the left copied from it.
            static_assert(kWidth % 128 == 0, "the sun and the grid centred on a whole pixel");
            const int centre = static_cast<int>(sunX);
            const auto skyPixel = [&](int x) {
                const double dx = x - sunX;
                const double d = std::sqrt(dx * dx + dy * dy);
                double r = r0;
                double g = g0;
                double b = b0;
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
                const double l = gridRow || x % 64 == 0 ? 18.0 : 0.0;
                put(row + 4 * x, r + l, g + l, b + l);
            };
            for (int x = centre; x < kWidth; ++x) {
                skyPixel(x);
            }
            for (int x = 2 * centre - kWidth + 1; x < centre; ++x) {
                std::memcpy(row + 4 * x, row + 4 * (2 * centre - x), 4);
            }
            for (int x = 0; x <= 2 * centre - kWidth; ++x) {
                skyPixel(x);
            }
            continue;
        }
        const double t = (y - horizon) / (kHeight - horizon);
        const double r0 = 40 - 25 * t;
        const double g0 = 30 - 15 * t;
        const double b0 = 60 - 30 * t;
        // The sun's reflection on the water, in broken bands: the columns within `reach` of it.
        const double reach = sunRadius * (1.0 - (y - horizon) / (kHeight - horizon));
        const bool band = (y / 6) % 2 == 0;
        std::uint8_t plain[4];
        std::uint8_t lifted[4];
        put(plain, r0 + lift, g0 + lift, b0 + lift);
        put(lifted, r0 + 18, g0 + 18, b0 + 18);
        for (int x = 0; x < kWidth; ++x) {
            if (band && std::fabs(x - sunX) < reach) {
                const double l = gridRow || x % 64 == 0 ? 18.0 : 0.0;
                put(row + 4 * x, r0 + 120 + l, g0 + 70 + l, b0 + 10 + l);
            } else {
                std::memcpy(row + 4 * x, x % 64 == 0 ? lifted : plain, 4);
            }
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
