#pragma once

#include <array>

#include "render/ImageBuffer.h"

namespace pm {

// The middle part of `frame` that holds a picture of display aspect `aspect` (width over height)
// whole, with bars above and below or at the sides: a view into the same rows. The frame itself
// when their shapes agree within 1 %, as rounding to whole pixels leaves them. Sizes and offsets
// are even, so the bars match and fields stay in step.
ImageBuffer fittedArea(const ImageBuffer& frame, double aspect);

// The two bars of `frame` beside `area` (from fittedArea): above and below, or left and right.
// Empty (no pixels) when the area is the whole frame.
std::array<ImageBuffer, 2> barsAround(const ImageBuffer& frame, const ImageBuffer& area);

}  // namespace pm
