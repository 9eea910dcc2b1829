#pragma once

#include "render/ImageBuffer.h"
#include "render/Mesh.h"
#include "render/RenderModes.h"

namespace pm {

// Softens the outline of a mapped picture: every target pixel that the picture's border line
// crosses is rewritten from its two neighbours across the line, weighted by how much of the pixel
// lies on each side. Pixels inside and outside the picture are left alone.
class EdgeSmoother {
public:
    struct Options {
        FieldMode fields = FieldMode::Frame;
        bool keepAlpha = false;  // alpha survives (not flattened): mix it too
    };

    // Runs over the border of a projected mesh (its first and last rows and columns) in `target`
    // (Bgra32, Yuva32 or Yuy2). `targetWidth` is the frame width the near-plane rule uses.
    static void smooth(const ImageBuffer& target, const Mesh& mesh, double targetWidth,
                       const Options& options);

    // One border segment, in target pixels.
    static void smoothSegment(const ImageBuffer& target, double x0, double y0, double x1, double y1,
                              const Options& options);
};

}  // namespace pm
