#include "audio/AudioStatus.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/MessageIds.h"

namespace pm {

std::string soundNameTooLong() {
    return "the file name is longer than " + std::to_string(kMaxSoundFileName) + " characters";
}

AudioStatus soundLoadFailed(const std::string& path, const std::string& reason) {
    std::vector<char> text(path.size() + 64);
    std::snprintf(text.data(), text.size(), kTextSoundLoadFailed, path.c_str());
    std::string message = text.data();
    if (!reason.empty()) {
        message += "\n" + reason;
    }
    return {msg::kCouldNotLoadSound, message};
}

}  // namespace pm
