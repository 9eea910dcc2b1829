#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/AudioFormat.h"
#include "core/TickTime.h"

namespace pm {

// The project's sound settings as they are saved with it: the file and the four times.
struct SoundSettings {
    std::string fileName;
    TickTime inPoint = 0;   // where in the sound the project starts playing
    TickTime outPoint = 0;  // where the sound stops
    TickTime fadeIn = 0;    // fade-in duration after the in point
    TickTime fadeOut = 0;   // fade-out duration before the out point

    friend bool operator==(const SoundSettings&, const SoundSettings&) = default;
};

// What GetFormat reports: whether there is sound, and its shape.
struct SoundFormat {
    bool present = false;
    int channels = 0;
    int rate = 0;
    int blockAlign = 0;
    int bits = 0;
};

// A block of samples an exporter asks for: `frames` frames in `format` written to `data`, the
// first at position `position` frames (at the request's rate) from the sound's in point.
struct SampleRequest {
    AudioFormat format;
    std::size_t frames = 0;
    void* data = nullptr;
    std::int64_t position = 0;
};

}  // namespace pm
