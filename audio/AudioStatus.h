#pragma once

#include <string>

namespace pm {

// The outcome of an audio operation that can fail where the user must see it: the string-table
// id of the message and its English text with the arguments already filled in. Id 0 is success.
struct AudioStatus {
    int messageId = 0;
    std::string text;

    bool ok() const { return messageId == 0; }
    explicit operator bool() const { return ok(); }

    static AudioStatus success() { return {}; }
};

// String-table ids and English texts of the audio messages.
inline constexpr const char* kTextSoundLoadFailed = "Could not load sound file. \n(%s)";

// The longest sound file name a project keeps.
inline constexpr std::size_t kMaxSoundFileName = 299;

// Why a name longer than kMaxSoundFileName is refused, in the user's words.
std::string soundNameTooLong();

// 6218 with the file's path, and on a line of its own what is wrong with it when that is known
// ("no such file").
AudioStatus soundLoadFailed(const std::string& path, const std::string& reason = {});

}  // namespace pm
