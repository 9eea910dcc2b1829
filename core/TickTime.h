#pragma once

#include <cmath>
#include <cstdint>

namespace pm {

// Absolute time: ticks of a 27 MHz clock, so that every common frame rate has an integral or
// near-integral frame duration.
using TickTime = std::int64_t;

inline constexpr TickTime kTicksPerSecond = 27'000'000;
// Time codes and the time display count hundredths of a second.
inline constexpr TickTime kTicksPerHundredth = kTicksPerSecond / 100;
inline constexpr double kSecondsPerTick = 1.0 / 27'000'000.0;

// Scene lengths live in [0.1 s, 7200 s].
inline constexpr TickTime kMinSceneLength = 2'700'000;
inline constexpr TickTime kMaxSceneLength = 194'400'000'000;

inline TickTime secondsToTicks(double seconds) {
    return static_cast<TickTime>(std::floor(seconds * 27'000'000.0 + 0.5));
}

inline double ticksToSeconds(TickTime ticks) {
    return static_cast<double>(ticks) * kSecondsPerTick;
}

}  // namespace pm
