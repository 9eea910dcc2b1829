#pragma once

#include "core/TickTime.h"
#include "render/ImageBuffer.h"

namespace pm {

// A frame asked for by the preview or an exporter: a time within a span (the project, or one
// scene) and where to draw it.
struct RenderRequest {
    TickTime time = 0;
    TickTime rangeStart = 0;
    TickTime rangeLength = 0;
    ImageBuffer target;
    int mode = 3;  // 3 whole frame, 1 second field, anything else first field
    float yScale = 1.0f;

    // (time - start) / length in seconds, clamped to [0, 1].
    double fraction() const;
};

// Quality a render reports: 0 failed, 2 drawn from the small proxy, 3 drawn from the wanted
// level (or background only).
inline constexpr int kRenderFailed = 0;
inline constexpr int kRenderedFromProxy = 2;
inline constexpr int kRenderedFully = 3;

// Picture access kinds passed through to the scene pictures: 3 loads a missing picture first
// (exports); 1 takes what is there and falls back to the proxy (preview).
inline constexpr int kAccessPreview = 1;
inline constexpr int kAccessExport = 3;

}  // namespace pm
