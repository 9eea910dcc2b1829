#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/TickTime.h"

namespace pm {

// How times are shown and typed: frame-counting time codes at the display frame rate.
enum class TimecodeType : int {
    Automatic = 0,  // drop frame for 29.97, real time for other fractional rates, else non-drop
    NonDrop = 1,
    RealTime = 2,
    DropFrame = 3,
};

// A frame rate as an exact fraction of the 27 MHz clock.
struct FrameRate {
    std::uint64_t numerator = 100;
    std::uint64_t denominator = 1;
    static FrameRate fromDuration(TickTime frameDuration);
};

// A duration of 0 (or less) stands for hundredths of a second.
TickTime effectiveFrameDuration(TickTime frameDuration);

// "hh:mm:ss:ff", or "hh:mm:ss;ff" for drop-frame and real-time codes. Empty for an unknown type.
std::string formatTimecode(TickTime ticks, TickTime frameDuration, int type);
// Reads up to four numbers from the right (frames, seconds, minutes, hours); a ';' marks
// drop-frame style text.
TickTime parseTimecode(std::string_view text, TickTime frameDuration, int type);

}  // namespace pm
