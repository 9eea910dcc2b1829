#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioFormat.h"
#include "audio/AudioStatus.h"

namespace pm {

// Decodes the sound of any file FFmpeg reads (audio, or the first audio stream of a video) to
// interleaved PCM in the file's own rate and channel count, at 8, 16 or 32 bits as close to the
// file's own width as PCM allows (lossy codecs give 16). Frame positions count from the first
// sample that decoding from the start delivers, and seeking lands on exactly that frame.
// Damaged input fails with 6218 or ends the sound early; every blocking step is time-bounded.
class AudioDecoder {
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    AudioStatus open(const std::string& path);
    // Decodes a file's bytes held in memory; `name` is used for format detection by extension and
    // in messages.
    AudioStatus openMemory(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                           const std::string& name);
    void close();

    bool isOpen() const;
    AudioFormat format() const;
    // Seconds, as the container states it (or as the packets add up when it does not).
    double duration() const;
    // Next frame that read() delivers.
    std::int64_t position() const;
    // Moves to `frame`; later reads give exactly the samples that decoding from the start would
    // give there. Fails only on a broken stream.
    bool seek(std::int64_t frame);
    // Reads up to `frames` frames; fewer only when the stream has ended.
    std::size_t read(void* destination, std::size_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace pm
