#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/TickTime.h"

namespace pm {

// Field order codes.
inline constexpr std::int32_t kLowerFieldFirst = 1;
inline constexpr std::int32_t kUpperFieldFirst = 2;
inline constexpr std::int32_t kFullFrame = 3;

// The video format exporters and the frame-size choices exchange: 24 bytes, laid out as
// exporters expect.
struct VideoFormatDesc {
    std::int32_t width = 720;
    std::int32_t height = 480;
    float pixelAspect = 0.9f;
    std::int32_t fieldOrder = kUpperFieldFirst;
    TickTime frameDuration = 900'900;
};
static_assert(sizeof(VideoFormatDesc) == 24);

struct FrameSizePreset {
    const char* name;
    int width;
    int height;
};
struct PixelAspectPreset {
    const char* name;
    float pixelAspect;
};
struct FrameRatePreset {
    const char* name;
    TickTime frameDuration;
};
struct FieldOrderChoice {
    int nameId;  // string table
    std::int32_t code;
};

// The preset lists in the order they are offered. Each list ends before "Custom"; a match
// function answers the list's size for Custom.
std::span<const FrameSizePreset> frameSizePresets();
std::span<const PixelAspectPreset> pixelAspectPresets();
std::span<const FrameRatePreset> frameRatePresets();
std::span<const FieldOrderChoice> fieldOrderChoices();

int matchFrameSize(int width, int height);
int matchPixelAspect(float pixelAspect);  // exact single-precision equality
int matchFrameRate(TickTime frameDuration);
// Codes outside the list read as upper field first.
std::int32_t normalizedFieldOrder(std::int32_t code);

// Frame duration for a rate typed in frames per second: trunc(2.7e7 / rate + 0.5).
TickTime frameDurationForRate(double framesPerSecond);

// Display aspect choices of a project.
inline constexpr double kDisplayAspect4x3 = 1.3333;
inline constexpr double kDisplayAspect16x9 = 1.7778;

}  // namespace pm
