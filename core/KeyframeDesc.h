#pragma once

#include <cstdint>

#include "core/InterpolationMode.h"

namespace pm {

// Field mask bits of a key record.
inline constexpr std::uint32_t KF_VALUE = 0x1000;
inline constexpr std::uint32_t KF_TIME = 0x2000;
inline constexpr std::uint32_t KF_TANGENT = 0x4000;  // slope, lengths and userDefined together
inline constexpr std::uint32_t KF_MODE = 0x10000;
// Not a field: the change leaves the neighbours' automatic tangents as they are.
inline constexpr std::uint32_t KF_KEEP_NEIGHBOURS = 0x20000;
// A mask of 0 stands for all four fields.
inline constexpr std::uint32_t KF_ALL_FIELDS = KF_VALUE | KF_TIME | KF_TANGENT | KF_MODE;

// A key as callers see it: the value is in user units, even on logarithmic tracks.
struct KeyframeDesc {
    float value = 0.0f;
    float time = 0.0f;
    float slope = 0.0f;
    float inLength = 1.0f;
    float outLength = 1.0f;
    std::int32_t userDefined = 0;
    InterpolationMode mode = InterpolationMode::Spline;
    std::int32_t selected = 0;
    std::uint32_t mask = 0;

    // The mask with 0 spelled out as the four fields it stands for.
    std::uint32_t effectiveMask() const { return mask == 0 ? KF_ALL_FIELDS : mask; }
};

}  // namespace pm
