#pragma once

#include <cstdint>

namespace pm {

// Interleaved PCM: 8-bit unsigned (128 is silence), 16- and 32-bit signed little-endian.
struct AudioFormat {
    int rate = 0;
    int channels = 0;
    int bits = 0;

    int bytesPerFrame() const { return channels * bits / 8; }
    std::int64_t bytesPerSecond() const {
        return static_cast<std::int64_t>(rate) * bytesPerFrame();
    }
    bool isValid() const {
        return rate > 0 && channels > 0 && (bits == 8 || bits == 16 || bits == 32);
    }
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

}  // namespace pm
