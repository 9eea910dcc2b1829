#pragma once

#include <cstdint>
#include <optional>

#include "core/TickTime.h"

namespace pm {

class StoreKey;

// The preferences that belong to the application rather than to a pane: the time display and the
// key-frame defaults. Values that are missing, of another type or out of range leave the current
// value in place.
struct AppSettings {
    static constexpr TickTime kDefaultFrameDuration = kTicksPerHundredth;
    static constexpr int kDefaultTimecodeType = 1;
    static constexpr int kDefaultInterpolation = 3;  // spline
    static constexpr double kDefaultPosSmoothing = 50.0;

    TickTime displayFrameDuration = kDefaultFrameDuration;
    int timecodeType = kDefaultTimecodeType;
    bool useDefaultScene = true;
    bool imagesInProject = true;
    bool replaceAutoCheck = true;
    int defaultInterpolation = kDefaultInterpolation;
    double defaultPosSmoothing = kDefaultPosSmoothing;

    // Reads the section's values. "UseDfltScene" is read at start-up only (readUseDefaultScene).
    void load(StoreKey& settings);
    void save(StoreKey& settings) const;
    void readUseDefaultScene(StoreKey& settings);

    // The installation's "VideoFormat": 1 NTSC time codes, 2 PAL; anything else changes nothing.
    void applyVideoFormat(std::optional<std::uint32_t> videoFormat);

    // "FrameRate" (frames per second) as a display frame duration: trunc(2.7e7 / rate + 0.5).
    // None for a rate that gives no usable duration (not a number, zero, negative, absurd).
    static std::optional<TickTime> frameDurationForFrameRate(double framesPerSecond);
    static double frameRateForDuration(TickTime frameDuration);

    bool operator==(const AppSettings&) const = default;
};

}  // namespace pm
