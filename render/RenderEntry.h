#pragma once

#include "render/ImageBuffer.h"
#include "render/RenderRequest.h"

namespace pm {

class ImageCache;
class Renderer;

// The ways in for frames. The preview asks at a normalized time of the renderer's span (the
// project, or the scene being edited): the current scene's picture is queued for loading first
// and the pictures about to be needed are prepared afterwards, so playback renders from what is
// in memory and never waits. Exporters ask by request and get the pictures loaded as needed.
// Both return the renderer's quality (0 failed).
int renderAt(Renderer& renderer, ImageCache* cache, double time, const ImageBuffer& target,
             int fieldMode, float yScale, int kind);
// Mode 3 renders a whole frame into the request's target; any other mode renders one field,
// the target describing only that field's rows.
int renderForRequest(Renderer& renderer, const RenderRequest& request, int kind);

}  // namespace pm
