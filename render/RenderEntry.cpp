#include "render/RenderEntry.h"

#include "render/ImageCache.h"
#include "render/Renderer.h"

namespace pm {

int renderAt(Renderer& renderer, ImageCache* cache, double time, const ImageBuffer& target,
             int fieldMode, float yScale, int kind) {
    if (cache != nullptr) {
        cache->loadCurrentInBackground();
    }
    // The renderers draw in the target's own format, so it needs no preparing here.
    const int quality = renderer.renderFrame(time, target, fieldMode, yScale, kind);
    if (cache != nullptr) {
        cache->prefetch();
    }
    return quality;
}

int renderForRequest(Renderer& renderer, const RenderRequest& request, int kind) {
    if (request.mode != 3) {
        return renderer.renderFieldRequest(request, kind);
    }
    return renderer.renderRequest(request, kind);
}

}  // namespace pm
