#pragma once

// What the frozen project shows, shared by the test that checks it and the tool that froze it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "render/RenderModes.h"

namespace pm {
class ProjectContext;
}

namespace pm::frozen {

inline constexpr int kWidth = 320;
inline constexpr int kHeight = 180;
// A steady zoom, the transition into the turned and blurred scene, that scene, and the tilted
// one.
inline constexpr std::array<double, 4> kFrameTimes = {0.5, 2.5, 3.6, 6.5};

struct Frame {
    std::vector<std::uint32_t> pixels;  // Bgra32, top row first
    RenderQuality quality = RenderQuality::Failed;
    std::uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
    }
};

// The project frame at `seconds`, drawn from the full pictures.
Frame render(ProjectContext& context, double seconds);

inline std::string frameName(double seconds) {
    return "frozen-" + std::to_string(static_cast<int>(seconds * 1000 + 0.5)) + ".png";
}

}  // namespace pm::frozen
