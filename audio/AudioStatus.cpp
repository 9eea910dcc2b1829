#include "audio/AudioStatus.h"

#include <cstdio>
#include <vector>

namespace pm {

AudioStatus soundLoadFailed(const std::string& path) {
    std::vector<char> text(path.size() + 64);
    std::snprintf(text.data(), text.size(), kTextSoundLoadFailed, path.c_str());
    return {kMsgSoundLoadFailed, text.data()};
}

}  // namespace pm
