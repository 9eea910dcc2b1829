#include "FrozenProject.h"

#include <cstring>

#include "core/ProjectContext.h"
#include "core/TickTime.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/RenderRequest.h"

namespace pm::frozen {

Frame render(ProjectContext& context, double seconds) {
    Frame frame;
    ImageBuffer target;
    if (PerfKit::allocate(&target, PixelFormat::Bgra32, kWidth, kHeight) != PixelStatus::Ok) {
        return frame;
    }
    const double length = ticksToSeconds(context.project().projectLength());
    ProjectRenderer renderer(context);
    frame.quality =
        renderer.renderFrame(seconds / length, target, FieldMode::Frame, 1.0f, PictureAccess::Full);
    frame.pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::memcpy(&frame.pixels[static_cast<std::size_t>(y) * kWidth],
                    target.row(static_cast<std::uint32_t>(y)), kWidth * 4);
    }
    return frame;
}

}  // namespace pm::frozen
