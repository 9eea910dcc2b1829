#pragma once

#include <cstdint>

#include "core/InterpolationMode.h"

namespace pm {

// Coefficients of P(s) = ((A*s + B)*s + C)*s + D over s in [0, 1].
struct Cubic {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;
    float d = 0.0f;

    float at(float s) const { return ((a * s + b) * s + c) * s + d; }
};

// A key as a track stores it. On a logarithmic track `value` holds log2(v + 0.1). The two cubics
// describe the segment to the next key; they are derived data and never saved.
struct Keyframe {
    float value = 0.0f;
    float time = 0.0f;
    float slope = 0.0f;
    float inLength = 1.0f;
    float outLength = 1.0f;
    std::int32_t userDefined = 0;
    InterpolationMode mode = InterpolationMode::Spline;
    std::int32_t selected = 0;
    Cubic valueCubic;
    Cubic timeCubic;
};

}  // namespace pm
