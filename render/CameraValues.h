#pragma once

#include <array>

#include "core/MotionParameter.h"

namespace pm {

// A scene's ten motion values at one time, converted for the camera: positions as picture
// fractions, angles in radians with the picture-plane rotation reversed, the perspective setting
// as an eye distance in frame widths.
struct CameraValues {
    float px = 0.5f;
    float py = 0.5f;
    float a = 0.0f;      // tilt about the horizontal axis
    float b = 0.0f;      // tilt about the vertical axis
    float dist = 4.45f;  // eye distance in frame widths
    float r = 0.0f;      // rotation in the picture plane
    float s = 0.85f;     // zoom
    float ox = 0.0f;     // anchor offset, half frame widths
    float oy = 0.0f;     // anchor offset, half frame heights
    float blur = 0.0f;

    static CameraValues fromParameters(const std::array<float, kParameterCount>& v) {
        CameraValues c;
        c.px = v[PosX];
        c.py = v[PosY];
        c.a = v[CamAngleA];
        c.b = v[CamAngleB];
        c.dist = static_cast<float>(10.45 - 0.075 * static_cast<double>(v[CamDist]));
        c.r = -v[Angle];
        c.s = v[Scale];
        c.ox = v[OffX];
        c.oy = v[OffY];
        c.blur = v[Blur];
        return c;
    }
};

}  // namespace pm
