#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/AudioDecoder.h"
#include "audio/AudioFormat.h"
#include "core/TickTime.h"

namespace pm {

namespace detail {
struct SoundShared;
}

// A sound track's sound decoded from a start time onwards in the sound's own format, for the
// player thread. It has its own decoder, so it runs beside exporter reads, and it picks up
// edits of the in/out points and fades at every block.
class SoundStream {
public:
    ~SoundStream();
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    const AudioFormat& format() const { return m_format; }
    // Stream frame that the next read starts at.
    std::int64_t position() const { return m_position; }
    bool atEnd() const { return m_position >= m_totalFrames; }

    // Fills `frames` frames; with `applyFades`, trimmed and faded like the exported sound.
    // Returns the frames of sound delivered; the rest of the block is silence, and fewer than
    // asked means the sound has ended.
    std::size_t read(void* destination, std::size_t frames, bool applyFades);
    // Moves to a time in the sound (not counted from the in point).
    bool seek(TickTime streamTime);

private:
    friend class SoundTrack;
    SoundStream(std::shared_ptr<detail::SoundShared> shared, AudioFormat format,
                std::int64_t totalFrames);

    std::shared_ptr<detail::SoundShared> m_shared;
    AudioDecoder m_decoder;
    AudioFormat m_format;
    std::int64_t m_totalFrames = 0;
    std::int64_t m_position = 0;
};

}  // namespace pm
