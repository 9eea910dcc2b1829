#pragma once

#include <cstdint>

#include "render/KernelBitmap.h"
#include "render/Mesh.h"
#include "render/RenderSurface.h"

namespace pm {

// Draws the part of `source` inside the quadrilateral (or triangle) `vertices` describe onto the
// surface's destination: the polygon's corners are the vertices' (x, y) in frame pixels, and each
// corner shows the source at its (u, v) in source pixels (u = 0 the left edge, u = width the right
// edge). Inside, the mapping is the projective one fixed by the corner pairs (affine when both
// quadrilaterals are parallelograms), so the weights w are not needed. Sampling is bilinear with
// clamped edges; edges are anti-aliased by exact area coverage, accumulated in the surface's work
// buffer so that neighbouring polygons meet without seams. Only the selected field's rows are
// written, and pixels outside the polygon keep their bytes.
//
// `coverage`, when given, receives the accumulated coverage too. `kernelFlags` are the surface's
// flags as the caller passes them (the field bits count). False when the source, the destination
// or the vertices cannot be used (nothing is drawn then).
bool mapPolygon(RenderSurface& surface, KernelBuffer* coverage, const KernelBitmap& source,
                const MeshVertex* vertices, int count, std::uint32_t kernelFlags);

// Writes every destination pixel's coverage into its alpha byte (32-bit destinations; the
// selected field's rows only).
void composeSurface(RenderSurface& surface);

// The inner loops the machine can run for `wanted` (Best picks the fastest).
MapperPath availableMapperPath(MapperPath wanted);

}  // namespace pm
