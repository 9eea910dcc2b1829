#include "audio/SoundTrack.h"

#include <algorithm>
#include <cmath>

#include "audio/SampleConversion.h"
#include "audio/detail/SoundShaping.h"
#include "audio/detail/SoundShared.h"
#include "core/MessageIds.h"
#include "core/StringTable.h"

namespace pm {

namespace {

__extension__ using Wide = __int128;

// floor(a * b / c) for non-negative operands without overflow.
std::int64_t mulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    return static_cast<std::int64_t>(static_cast<Wide>(a) * b / c);
}

std::string leafName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

SoundTrack::SoundTrack() : m_shared(std::make_shared<detail::SoundShared>()) {}
SoundTrack::~SoundTrack() = default;

AudioStatus SoundTrack::open(const std::string& path) {
    if (path.empty()) {
        clear();
        return AudioStatus::success();
    }
    const AudioStatus status = openSource(path, nullptr);
    if (status) {
        m_displayName = path;
        m_embedded = false;
    }
    return status;
}

AudioStatus SoundTrack::openEmbedded(const std::string& fileName,
                                     std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    const AudioStatus status = openSource(fileName, std::move(bytes));
    if (status) {
        m_displayName = "[" + leafName(fileName) + "]";
        m_embedded = true;
    }
    return status;
}

AudioStatus SoundTrack::openSource(const std::string& path,
                                   std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    m_decoder.close();
    m_converter.reset();
    m_nextRequestPosition = -1;
    if (path.size() > kMaxSoundFileName) {
        // A project keeps no longer name, so a sound opened under one could not be saved.
        clear();
        return soundLoadFailed(path, soundNameTooLong());
    }
    const AudioStatus status = bytes ? m_decoder.openMemory(bytes, path) : m_decoder.open(path);
    if (!status) {
        clear();
        return status;
    }
    const AudioFormat format = m_decoder.format();
    const double duration = m_decoder.duration();
    const auto totalBytes = static_cast<std::int64_t>(static_cast<double>(format.channels) *
                                                      format.bits * format.rate * duration / 8.0);
    if (!format.isValid() || totalBytes <= 0) {
        clear();
        return soundLoadFailed(path);
    }
    m_fileName = path;
    m_bytes = bytes;
    m_format = format;
    m_duration = duration;
    m_totalBytes = totalBytes;
    // Streams handed out earlier keep decoding what they were opened on.
    auto shared = std::make_shared<detail::SoundShared>();
    shared->path = path;
    shared->bytes = std::move(bytes);
    shared->projectLength = m_shared->projectLength;
    shared->settings = {path, 0, secondsToTicks(duration), 0, 0};
    m_shared = std::move(shared);
    notify();
    return AudioStatus::success();
}

void SoundTrack::clear() {
    m_decoder.close();
    m_converter.reset();
    m_nextRequestPosition = -1;
    m_fileName.clear();
    m_displayName.clear();
    m_embedded = false;
    m_bytes.reset();
    m_format = {};
    m_duration = 0.0;
    m_totalBytes = 0;
    auto shared = std::make_shared<detail::SoundShared>();
    shared->projectLength = m_shared->projectLength;
    m_shared = std::move(shared);
    notify();
}

bool SoundTrack::isPresent() const {
    return m_decoder.isOpen() && m_format.isValid() && m_totalBytes > 0;
}

SoundFormat SoundTrack::soundFormat() const {
    SoundFormat f;
    f.present = isPresent();
    f.channels = m_format.channels;
    f.rate = m_format.rate;
    f.blockAlign = m_format.bytesPerFrame();
    f.bits = m_format.bits;
    return f;
}

std::int64_t SoundTrack::totalFrames() const {
    const int block = m_format.bytesPerFrame();
    return block > 0 ? m_totalBytes / block : 0;
}

SoundSettings SoundTrack::settings() const {
    const std::lock_guard guard(m_shared->lock);
    return m_shared->settings;
}

TickTime SoundTrack::inPoint() const {
    return settings().inPoint;
}
TickTime SoundTrack::outPoint() const {
    return settings().outPoint;
}
TickTime SoundTrack::fadeIn() const {
    return settings().fadeIn;
}
TickTime SoundTrack::fadeOut() const {
    return settings().fadeOut;
}

bool SoundTrack::setInPoint(TickTime t) {
    const SoundSettings s = settings();
    return updateTimes(t, s.outPoint, s.fadeIn, s.fadeOut);
}

bool SoundTrack::setOutPoint(TickTime t) {
    const SoundSettings s = settings();
    return updateTimes(s.inPoint, t, s.fadeIn, s.fadeOut);
}

bool SoundTrack::setFadeIn(TickTime t) {
    const SoundSettings s = settings();
    return updateTimes(s.inPoint, s.outPoint, t, s.fadeOut);
}

bool SoundTrack::setFadeOut(TickTime t) {
    const SoundSettings s = settings();
    return updateTimes(s.inPoint, s.outPoint, s.fadeIn, t);
}

bool SoundTrack::setTimes(TickTime in, TickTime out, TickTime fadeIn, TickTime fadeOut) {
    return updateTimes(in, out, fadeIn, fadeOut);
}

bool SoundTrack::updateTimes(TickTime in, TickTime out, TickTime fadeIn, TickTime fadeOut) {
    const TickTime length = secondsToTicks(m_duration);
    const TickTime half = static_cast<TickTime>(std::floor(m_duration * 13'500'000.0 + 0.5));
    // Negative times have no meaning in a sound; they are treated as its start.
    in = std::clamp<TickTime>(in, 0, length);
    out = std::clamp<TickTime>(out, in, length);
    fadeIn = std::clamp<TickTime>(fadeIn, 0, half);
    fadeOut = std::clamp<TickTime>(fadeOut, 0, half);
    {
        const std::lock_guard guard(m_shared->lock);
        SoundSettings& s = m_shared->settings;
        if (s.inPoint == in && s.outPoint == out && s.fadeIn == fadeIn && s.fadeOut == fadeOut) {
            return false;
        }
        s.inPoint = in;
        s.outPoint = out;
        s.fadeIn = fadeIn;
        s.fadeOut = fadeOut;
    }
    notify();
    return true;
}

void SoundTrack::setProjectLength(TickTime length) {
    const std::lock_guard guard(m_shared->lock);
    m_shared->projectLength = std::max<TickTime>(0, length);
}

void SoundTrack::notify() {
    if (m_onChange) {
        m_onChange(kChangeCode, kChangeArgument);
    }
}

void SoundTrack::readRelative(std::int64_t relativeFrame, std::size_t frames, std::uint8_t* out,
                              bool trimmed) {
    const detail::ShapeTimes times = m_shared->times();
    const std::int64_t base = mulDiv(inPoint(), m_format.rate, kTicksPerSecond);
    detail::readStreamBlock(m_decoder, m_format, totalFrames(), base + relativeFrame, frames, out,
                            trimmed ? &times : nullptr);
}

void SoundTrack::readResampled(const SampleRequest& request, bool trimmed, std::uint8_t* out) {
    const int frameBytes = m_format.bytesPerFrame();
    const RateFormatPair pair{m_format.channels,   m_format.rate, m_format.bits, frameBytes,
                              request.format.rate, m_format.bits, frameBytes};
    // The converter carries over only to the request that continues the previous one; any jump
    // starts a fresh one aligned on the request's position.
    if (!m_converter || !(m_converter->format() == pair) || request.position == 0 ||
        request.position != m_nextRequestPosition) {
        m_converter = std::make_unique<RateConverter>(pair);
        m_nextStreamFrame = mulDiv(request.position, m_format.rate, request.format.rate);
    }
    const std::size_t chunk = 2 * request.frames;
    std::size_t delivered = 0;
    while (delivered < request.frames) {
        if (m_converter->ready() == 0) {
            m_streamBlock.resize(chunk * static_cast<std::size_t>(frameBytes));
            readRelative(m_nextStreamFrame, chunk, m_streamBlock.data(), trimmed);
            m_converter->push(m_streamBlock.data(), chunk);
            m_nextStreamFrame += static_cast<std::int64_t>(chunk);
        }
        delivered += m_converter->pull(out + delivered * static_cast<std::size_t>(frameBytes),
                                       request.frames - delivered);
    }
    m_nextRequestPosition = request.position + static_cast<std::int64_t>(request.frames);
}

bool SoundTrack::readSamples(const SampleRequest& request, bool trimmed) {
    const AudioFormat& want = request.format;
    if (!want.isValid() || want.channels > 16 || (request.frames > 0 && !request.data) ||
        request.position < 0) {
        return false;
    }
    auto* data = static_cast<std::uint8_t*>(request.data);
    const std::size_t bytes = request.frames * static_cast<std::size_t>(want.bytesPerFrame());
    if (request.position == 0) {
        m_converter.reset();
        m_nextRequestPosition = -1;
    }
    const SoundSettings s = settings();
    const TickTime time = mulDiv(request.position, kTicksPerSecond, want.rate);
    if (!isPresent() || (trimmed && s.inPoint + time > s.outPoint) ||
        (!trimmed && time > secondsToTicks(m_duration))) {
        detail::fillSilence(data, bytes, want.bits);
        return true;
    }
    if (want == m_format) {
        readRelative(request.position, request.frames, data, trimmed);
        return true;
    }
    // Rate first, then channels, then width, each only when it differs.
    const std::size_t frames = request.frames;
    const std::uint8_t* block;
    if (want.rate == m_format.rate) {
        m_streamBlock.resize(frames * static_cast<std::size_t>(m_format.bytesPerFrame()));
        readRelative(request.position, frames, m_streamBlock.data(), trimmed);
        block = m_streamBlock.data();
    } else {
        m_rateBlock.resize(frames * static_cast<std::size_t>(m_format.bytesPerFrame()));
        readResampled(request, trimmed, m_rateBlock.data());
        block = m_rateBlock.data();
    }
    if (want.channels != m_format.channels) {
        m_channelBlock.resize(frames * static_cast<std::size_t>(want.channels * m_format.bits / 8));
        convertChannels(frames, block, m_format.channels, m_channelBlock.data(), want.channels,
                        m_format.bits);
        block = m_channelBlock.data();
    }
    convertWidth(frames, block, m_format.bits, data, want.bits, want.channels);
    return true;
}

std::unique_ptr<SoundStream> SoundTrack::openStream(TickTime streamTime) const {
    if (!isPresent()) {
        return nullptr;
    }
    std::unique_ptr<SoundStream> stream(new SoundStream(m_shared, m_format, totalFrames()));
    stream->seek(streamTime);
    return stream;
}

std::string SoundTrack::description() const {
    const SoundFormat f = soundFormat();
    if (!f.present) {
        return strings::text(msg::kNoSound);
    }
    return strings::format(msg::kSoundFormat,
                           {textArg(f.channels), textArg(f.rate * 0.001), textArg(f.bits)});
}

}  // namespace pm
