#include "render/RenderEntry.h"

#include "render/ImageCache.h"
#include "render/Renderer.h"

namespace pm {

RenderQuality renderAt(Renderer& renderer, ImageCache* cache, double time,
                       const ImageBuffer& target, FieldMode fields, float yScale,
                       PictureAccess access) {
    if (cache != nullptr) {
        cache->loadCurrentInBackground();
    }
    // The renderers draw in the target's own format, so it needs no preparing here.
    const RenderQuality quality = renderer.renderFrame(time, target, fields, yScale, access);
    if (cache != nullptr) {
        cache->prefetch();
    }
    return quality;
}

RenderQuality renderForRequest(Renderer& renderer, const RenderRequest& request,
                               PictureAccess access) {
    if (request.fields != FieldMode::Frame) {
        return renderer.renderFieldRequest(request, access);
    }
    return renderer.renderRequest(request, access);
}

}  // namespace pm
