#pragma once

namespace pm {

// Index of each motion parameter in a scene's track array and in the parameter table.
enum MotionParameter : int {
    PosX = 0,
    PosY = 1,
    Scale = 2,
    CamAngleA = 3,
    CamAngleB = 4,
    Angle = 5,
    CamDist = 6,
    OffX = 7,
    OffY = 8,
    Blur = 9,
};

inline constexpr int kParameterCount = 10;

// Index of each group in the group table.
enum MotionGroup : int {
    GroupAll = 0,
    GroupPosition = 1,
    GroupScale = 2,
    GroupCamera = 3,
    GroupAnchorPoint = 4,
    GroupFilters = 5,
};

inline constexpr int kGroupCount = 6;

// Bit mask naming every parameter, as change notifications use it.
inline constexpr unsigned kAllParameterBits = (1u << kParameterCount) - 1;

inline bool isValidParameter(int p) {
    return p >= 0 && p < kParameterCount;
}

}  // namespace pm
