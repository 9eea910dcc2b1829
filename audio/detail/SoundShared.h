#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/SoundSettings.h"
#include "audio/detail/SoundShaping.h"

namespace pm::detail {

// What a sound track shares with the streams it hands out: the settings (edited on the user
// interface thread while a player thread reads them) and the source to decode.
struct SoundShared {
    mutable std::mutex lock;
    SoundSettings settings;
    TickTime projectLength = 0;
    std::string path;  // decoded from here unless `bytes` is set
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;

    ShapeTimes times() const {
        const std::lock_guard guard(lock);
        return shapeTimes(settings, projectLength);
    }
};

}  // namespace pm::detail
