#pragma once

#include <span>

#include "core/Keyframe.h"

namespace pm {

// Finds s in [0, 1] where a segment's time curve reaches t, by halving steps from s = 0.5: stop
// when |t - time(s)| < 1e-7 or after 41 corrections. The curve is monotonic for automatic
// tangents; user tangents may break that, and the result is then wherever the halving ends.
float solveSplineTime(const Cubic& time, float t);

// The same for several segments at once, with results identical to solveSplineTime. Solving them
// side by side lets the processor overlap the otherwise serial halving steps.
void solveSplineTimes(std::span<const Cubic* const> times, std::span<const float> targets,
                      std::span<float> results);

}  // namespace pm
