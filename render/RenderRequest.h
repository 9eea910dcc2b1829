#pragma once

#include "core/TickTime.h"
#include "render/ImageBuffer.h"
#include "render/RenderModes.h"

namespace pm {

// A frame asked for by the preview or an exporter: a time within a span (the project, or one
// scene) and where to draw it.
struct RenderRequest {
    TickTime time = 0;
    TickTime rangeStart = 0;
    TickTime rangeLength = 0;
    ImageBuffer target;
    // A field request's target describes only that field's rows.
    FieldMode fields = FieldMode::Frame;
    float yScale = 1.0f;

    // (time - start) / length in seconds, clamped to [0, 1].
    double fraction() const;
};

}  // namespace pm
