#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/AudioFormat.h"

namespace pm::test {

// A folder of its own under the system's temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Writes a PCM WAV file (format tag 1) holding `data` in `format`.
void writeWav(const std::string& path, const AudioFormat& format,
              const std::vector<std::uint8_t>& data);
// Deterministic test signal: two tones per channel plus a little noise, as bytes in `format`.
std::vector<std::uint8_t> makeSignal(const AudioFormat& format, std::size_t frames);
// Runs the ffmpeg tool with `arguments` (quietly, overwriting); true when it succeeded.
bool runFfmpeg(const std::string& arguments);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace pm::test
