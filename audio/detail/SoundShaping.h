#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/AudioFormat.h"
#include "audio/SoundSettings.h"

namespace pm::detail {

// Trimming and fades in stream ticks: silence before `in` and from `out` on, a linear fade-in
// over `fadeIn` after `in`, and a linear fade-out over `fadeOut` that reaches zero at `end`.
struct ShapeTimes {
    TickTime in = 0;
    TickTime out = 0;
    TickTime fadeIn = 0;
    TickTime fadeOut = 0;
    TickTime end = 0;
};

// The shaping a sound's settings ask for. With a project length (> 0) the sound also ends with
// the project, fading out over 0.1 s there when no fade-out is set.
ShapeTimes shapeTimes(const SoundSettings& settings, TickTime projectLength);

// Applies trimming and fades to `frames` frames whose first is stream frame `firstFrame`. Each
// frame's gain comes from its own exact time; values are scaled around their silence value in
// exact integer arithmetic and truncated toward it.
void shapeBlock(std::uint8_t* data, std::size_t frames, const AudioFormat& format,
                std::int64_t firstFrame, const ShapeTimes& times);

// Fills with the format's silence (128 for 8-bit samples, 0 otherwise).
void fillSilence(void* data, std::size_t bytes, int bits);

}  // namespace pm::detail

namespace pm {
class AudioDecoder;
}

namespace pm::detail {

// Reads `frames` frames starting at stream frame `first` into `out`, seeking only when the
// decoder is elsewhere. Frames at or past `totalFrames`, or past the end of the data, are
// silence. With `shape` set, trimming and fades are applied. Returns the frames of real sound.
std::size_t readStreamBlock(AudioDecoder& decoder, const AudioFormat& format,
                            std::int64_t totalFrames, std::int64_t first, std::size_t frames,
                            std::uint8_t* out, const ShapeTimes* shape);

}  // namespace pm::detail
