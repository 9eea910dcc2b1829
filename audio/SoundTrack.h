#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioDecoder.h"
#include "audio/AudioFormat.h"
#include "audio/AudioStatus.h"
#include "audio/RateConverter.h"
#include "audio/SoundSettings.h"
#include "audio/SoundStream.h"
#include "core/TickTime.h"

namespace pm {

namespace detail {
struct SoundShared;
}

// The project's one sound: a file (or the sound of a video) with in and out points and fades.
// It delivers the decoded sound trimmed and faded, to the player as a stream from a start time
// and to exporters as blocks in whatever format they ask for. Times are stream ticks; every
// change of the times is normalised against the sound's duration and announced as project
// change 0x10001 with argument 2.
class SoundTrack {
public:
    static constexpr int kChangeCode = 0x10001;
    static constexpr int kChangeArgument = 2;
    using ChangeCallback = std::function<void(int code, int argument)>;

    SoundTrack();
    ~SoundTrack();
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    void setChangeCallback(ChangeCallback callback) { m_onChange = std::move(callback); }

    // Opens a sound file; an empty path clears the sound. On failure the sound is cleared and the
    // status carries 6218 with the path. The out point becomes the duration, the rest 0.
    AudioStatus open(const std::string& path);
    // Opens a sound from a copy of its file's bytes (as embedded in a project). The file name
    // stays `fileName`; the display name is its leaf name in square brackets.
    AudioStatus openEmbedded(const std::string& fileName,
                             std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    // No sound; all four times 0.
    void clear();

    bool isPresent() const;
    const std::string& fileName() const { return m_fileName; }
    // The name to show: the file name, or "[name]" for an embedded sound.
    const std::string& displayName() const { return m_displayName; }
    bool isEmbedded() const { return m_embedded; }
    // The embedded copy's bytes (null for a sound opened from its file).
    std::shared_ptr<const std::vector<std::uint8_t>> embeddedBytes() const { return m_bytes; }

    const AudioFormat& format() const { return m_format; }
    SoundFormat soundFormat() const;
    // "Audio: 2 Channel(s), 44.100kHz, 16Bit", or "No Audio".
    std::string description() const;
    double duration() const { return m_duration; }
    std::int64_t totalBytes() const { return m_totalBytes; }

    SoundSettings settings() const;
    TickTime inPoint() const;
    TickTime outPoint() const;
    TickTime fadeIn() const;
    TickTime fadeOut() const;
    // Each stores the value when it differs, normalises and announces the change; true when
    // something changed.
    bool setInPoint(TickTime t);
    bool setOutPoint(TickTime t);
    bool setFadeIn(TickTime t);
    bool setFadeOut(TickTime t);
    // Sets all four times at once (as when a project is loaded), normalised, one announcement.
    bool setTimes(TickTime in, TickTime out, TickTime fadeIn, TickTime fadeOut);

    // The project's length: the sound ends (with a short fade) where the project ends. 0 leaves
    // the sound ending at its out point.
    void setProjectLength(TickTime length);

    // Fills the request; times count from the in point. With `trimmed`, fades apply and the out
    // point ends the sound. Past the end, and without sound, the block is silence. False only
    // for a request in a format that cannot be produced (the data is then left alone).
    bool readSamples(const SampleRequest& request, bool trimmed);

    // A stream of the sound from `streamTime` (a time in the sound, not counted from the in
    // point), or null without sound.
    std::unique_ptr<SoundStream> openStream(TickTime streamTime) const;

private:
    AudioStatus openSource(const std::string& path,
                           std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    bool updateTimes(TickTime in, TickTime out, TickTime fadeIn, TickTime fadeOut);
    void notify();
    std::int64_t totalFrames() const;
    // Reads frames counted from the in point, in the stream's format.
    void readRelative(std::int64_t relativeFrame, std::size_t frames, std::uint8_t* out,
                      bool trimmed);
    void readResampled(const SampleRequest& request, bool trimmed, std::uint8_t* out);

    std::shared_ptr<detail::SoundShared> m_shared;
    ChangeCallback m_onChange;
    AudioDecoder m_decoder;
    std::string m_fileName;
    std::string m_displayName;
    bool m_embedded = false;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    AudioFormat m_format;
    double m_duration = 0.0;
    std::int64_t m_totalBytes = 0;

    // Rate conversion carried from one exporter request to the next.
    std::unique_ptr<RateConverter> m_converter;
    std::int64_t m_nextRequestPosition = -1;
    std::int64_t m_nextStreamFrame = 0;
    std::vector<std::uint8_t> m_streamBlock;
    std::vector<std::uint8_t> m_rateBlock;
    std::vector<std::uint8_t> m_channelBlock;
};

}  // namespace pm
