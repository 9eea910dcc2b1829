#pragma once

#include "render/ImageBuffer.h"
#include "render/RenderRequest.h"

namespace pm {

// What the project and every scene offer to draw a frame. The order of the operations is fixed.
class Renderer {
public:
    virtual ~Renderer() = default;
    // Whole frame or one field, as the request's mode says.
    virtual RenderQuality renderRequest(const RenderRequest& request, PictureAccess access);
    // `time` is normalized: a scene time, or a project time for the project.
    virtual RenderQuality renderFrame(double time, const ImageBuffer& target, FieldMode fields,
                                      float yScale, PictureAccess access) = 0;
    virtual RenderQuality renderFieldRequest(const RenderRequest& request, PictureAccess access);
    // `fieldTarget` describes one field of an interlaced frame: its rows, two frame lines apart.
    virtual RenderQuality renderField(double time, const ImageBuffer& fieldTarget,
                                      bool isFirstField, float yScale, PictureAccess access) = 0;
};

// Program-wide: pictures with transparency are flattened onto the background colour and
// transitions mix plainly. Cleared when alpha is to survive (an exporter that keeps alpha, the
// preview's alpha display).
bool flattenAlpha();
// Returns the previous value.
bool setFlattenAlpha(bool flatten);

}  // namespace pm
