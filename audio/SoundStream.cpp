#include "audio/SoundStream.h"

#include "audio/detail/SoundShaping.h"
#include "audio/detail/SoundShared.h"

namespace pm {

SoundStream::SoundStream(std::shared_ptr<detail::SoundShared> shared, AudioFormat format,
                         std::int64_t totalFrames)
    : m_shared(std::move(shared)), m_format(format), m_totalFrames(totalFrames) {
    if (m_shared->bytes) {
        m_decoder.openMemory(m_shared->bytes, m_shared->path);
    } else {
        m_decoder.open(m_shared->path);
    }
    if (!m_decoder.isOpen() || m_decoder.format() != m_format) {
        // The file changed or vanished since the track opened it: the stream is silent.
        m_decoder.close();
        m_totalFrames = 0;
    }
}

SoundStream::~SoundStream() = default;

std::size_t SoundStream::read(void* destination, std::size_t frames, bool applyFades) {
    const detail::ShapeTimes times = m_shared->times();
    const std::size_t got = detail::readStreamBlock(m_decoder, m_format, m_totalFrames, m_position,
                                                    frames, static_cast<std::uint8_t*>(destination),
                                                    applyFades ? &times : nullptr);
    m_position += static_cast<std::int64_t>(frames);
    return got;
}

bool SoundStream::seek(TickTime streamTime) {
    if (streamTime < 0) {
        return false;
    }
    __extension__ using Wide = __int128;
    m_position =
        static_cast<std::int64_t>(static_cast<Wide>(streamTime) * m_format.rate / kTicksPerSecond);
    return true;
}

}  // namespace pm
