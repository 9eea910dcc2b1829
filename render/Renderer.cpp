#include "render/Renderer.h"

#include <algorithm>
#include <atomic>

namespace pm {

namespace {
std::atomic<bool> g_flattenAlpha{true};
}

double RenderRequest::fraction() const {
    if (rangeLength <= 0) {
        return 0.0;
    }
    // The ratio of the tick counts is the ratio in seconds, without the rounding of converting.
    return std::clamp(static_cast<double>(time - rangeStart) / static_cast<double>(rangeLength),
                      0.0, 1.0);
}

RenderQuality Renderer::renderRequest(const RenderRequest& request, PictureAccess access) {
    return renderFrame(request.fraction(), request.target, request.fields, request.yScale, access);
}

RenderQuality Renderer::renderFieldRequest(const RenderRequest& request, PictureAccess access) {
    return renderField(request.fraction(), request.target, request.fields != FieldMode::Second,
                       request.yScale, access);
}

bool flattenAlpha() {
    return g_flattenAlpha.load(std::memory_order_relaxed);
}

bool setFlattenAlpha(bool flatten) {
    return g_flattenAlpha.exchange(flatten);
}

}  // namespace pm
