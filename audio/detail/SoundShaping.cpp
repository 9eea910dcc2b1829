#include "audio/detail/SoundShaping.h"

#include <algorithm>
#include <cstring>

#include "audio/detail/PcmAccess.h"

namespace pm::detail {

namespace {

constexpr TickTime kProjectEndFade = 2'700'000;  // 0.1 s
__extension__ using Wide = __int128;

}  // namespace

ShapeTimes shapeTimes(const SoundSettings& settings, TickTime projectLength) {
    ShapeTimes t;
    t.in = settings.inPoint;
    t.out = settings.outPoint;
    t.fadeIn = settings.fadeIn;
    t.fadeOut = settings.fadeOut;
    t.end = t.out;
    if (projectLength > 0 && settings.inPoint + projectLength < settings.outPoint) {
        t.end = settings.inPoint + projectLength;
        if (settings.fadeOut == 0) {
            t.fadeOut = kProjectEndFade;
        }
    }
    return t;
}

void fillSilence(void* data, std::size_t bytes, int bits) {
    std::memset(data, bits == 8 ? 128 : 0, bytes);
}

void shapeBlock(std::uint8_t* data, std::size_t frames, const AudioFormat& format,
                std::int64_t firstFrame, const ShapeTimes& times) {
    if (frames == 0 || !format.isValid()) {
        return;
    }
    // Times are compared as ticks * rate, where frame f lies at f * 27,000,000 exactly.
    const Wide rate = format.rate;
    const Wide in = times.in * rate;
    const Wide out = times.out * rate;
    const Wide end = times.end * rate;
    const Wide fadeIn = times.fadeIn * rate;
    const Wide fadeOut = times.fadeOut * rate;
    const Wide first = static_cast<Wide>(firstFrame) * kTicksPerSecond;
    const Wide last =
        static_cast<Wide>(firstFrame + static_cast<std::int64_t>(frames) - 1) * kTicksPerSecond;
    // The common case: a block wholly inside the sound and outside both fades stays untouched.
    if (first >= in + fadeIn && last < out && last < end && last <= end - fadeOut) {
        return;
    }
    const int bytes = format.bits / 8;
    const int frameBytes = format.bytesPerFrame();
    for (std::size_t j = 0; j < frames; ++j) {
        const Wide t =
            static_cast<Wide>(firstFrame + static_cast<std::int64_t>(j)) * kTicksPerSecond;
        std::uint8_t* frame = data + j * static_cast<std::size_t>(frameBytes);
        if (t < in || t >= out || t >= end) {
            fillSilence(frame, static_cast<std::size_t>(frameBytes), format.bits);
            continue;
        }
        // Gain as a fraction num / den, the smaller of the two fades.
        Wide num = 1;
        Wide den = 1;
        if (fadeIn > 0 && t < in + fadeIn) {
            num = t - in;
            den = fadeIn;
        }
        if (fadeOut > 0 && t > end - fadeOut && (end - t) * den < num * fadeOut) {
            num = end - t;
            den = fadeOut;
        }
        if (num >= den) {
            continue;
        }
        for (int c = 0; c < format.channels; ++c) {
            std::uint8_t* p = frame + c * bytes;
            const Wide v = loadSample(p, format.bits);
            storeSample(p, format.bits, static_cast<std::int32_t>(v * num / den));
        }
    }
}

}  // namespace pm::detail

#include "audio/AudioDecoder.h"

namespace pm::detail {

std::size_t readStreamBlock(AudioDecoder& decoder, const AudioFormat& format,
                            std::int64_t totalFrames, std::int64_t first, std::size_t frames,
                            std::uint8_t* out, const ShapeTimes* shape) {
    const auto frameBytes = static_cast<std::size_t>(format.bytesPerFrame());
    std::size_t got = 0;
    if (first >= 0 && first < totalFrames) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(frames), totalFrames - first));
        if (decoder.position() == first || decoder.seek(first)) {
            got = decoder.read(out, wanted);
        }
    }
    fillSilence(out + got * frameBytes, (frames - got) * frameBytes, format.bits);
    if (shape) {
        shapeBlock(out, got, format, first, *shape);
    }
    return got;
}

}  // namespace pm::detail
