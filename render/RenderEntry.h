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
// Both return the renderer's quality.
RenderQuality renderAt(Renderer& renderer, ImageCache* cache, double time,
                       const ImageBuffer& target, FieldMode fields, float yScale,
                       PictureAccess access);
// A whole frame into the request's target, or one field with the target describing only that
// field's rows.
RenderQuality renderForRequest(Renderer& renderer, const RenderRequest& request,
                               PictureAccess access);

}  // namespace pm
