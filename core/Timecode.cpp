#include "core/Timecode.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "core/TextFormat.h"

namespace pm {

namespace {

constexpr TickTime kHundredth = kTicksPerHundredth;

enum class Kind { NonDrop, RealTime, DropFrame };

// 29.97 frames per second counts in drop frame. The rate is rounded to hundredths: the NTSC display
// duration of 900901 ticks is 29.96997 frames per second and must count as 29.97 too.
bool isDropRate(const FrameRate& rate) {
    return (rate.numerator * 200 + rate.denominator) / (2 * rate.denominator) == 2997;
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

std::string text(std::uint64_t h, std::uint64_t m, std::uint64_t s, std::uint64_t f,
                 bool semicolon) {
    return formatText(semicolon ? "%02i:%02i:%02i;%02i" : "%02i:%02i:%02i:%02i",
                      {textArg(h), textArg(m), textArg(s), textArg(f)});
}

}  // namespace

TickTime effectiveFrameDuration(TickTime frameDuration) {
    return frameDuration > 0 ? frameDuration : kHundredth;
}

FrameRate FrameRate::fromDuration(TickTime frameDuration) {
    const auto duration = static_cast<std::uint64_t>(effectiveFrameDuration(frameDuration));
    const std::uint64_t g = std::gcd(static_cast<std::uint64_t>(kTicksPerSecond), duration);
    return {static_cast<std::uint64_t>(kTicksPerSecond) / g, duration / g};
}

std::string formatTimecode(TickTime ticks, TickTime frameDuration, int type) {
    if (type < 0 || type > 3) {
        return {};
    }
    const TickTime duration = effectiveFrameDuration(frameDuration);
    const FrameRate rate = FrameRate::fromDuration(duration);
    // Times before the start are shown as the start.
    const std::uint64_t n = static_cast<std::uint64_t>(std::max<TickTime>(ticks, 0)) /
                            static_cast<std::uint64_t>(duration);
    Kind kind = Kind::NonDrop;
    switch (static_cast<TimecodeType>(type)) {
        case TimecodeType::Automatic:
            kind = rate.denominator == 1 ? Kind::NonDrop
                   : isDropRate(rate)    ? Kind::DropFrame
                                         : Kind::RealTime;
            break;
        case TimecodeType::NonDrop:
            kind = Kind::NonDrop;
            break;
        case TimecodeType::RealTime:
            kind = Kind::RealTime;
            break;
        case TimecodeType::DropFrame:
            kind = Kind::DropFrame;
            break;
    }
    const std::uint64_t num = rate.numerator;
    const std::uint64_t den = rate.denominator;
    switch (kind) {
        case Kind::NonDrop: {
            const std::uint64_t fps = (num + den - 1) / den;
            const std::uint64_t secs = n / fps;
            return text(secs / 3600, secs / 60 % 60, secs % 60, n % fps, false);
        }
        case Kind::RealTime: {
            const std::uint64_t secs = n * den / num;
            const std::uint64_t frames = n - ceilDiv(secs * num, den);
            return text(secs / 3600, secs / 60 % 60, secs % 60, frames, true);
        }
        case Kind::DropFrame: {
            // Two frame numbers are skipped every minute except every tenth minute.
            const std::uint64_t m1 = n / 1800;
            const std::uint64_t d = 2 * (m1 - m1 / 10);
            const std::uint64_t m = (n + d) / 1800;
            const std::uint64_t total = m > m1 ? n + 2 * (m - m / 10) : n + d;
            return text(m / 60, m % 60, total / 30 - 60 * m, total % 30, true);
        }
    }
    return {};
}

TickTime parseTimecode(std::string_view input, TickTime frameDuration, int type) {
    const TickTime duration = effectiveFrameDuration(frameDuration);
    const FrameRate rate = FrameRate::fromDuration(duration);
    std::int64_t numbers[4] = {};
    int count = 0;
    char lastSeparator = 0;
    std::size_t i = 0;
    while (count < 4 && i < input.size()) {
        while (i < input.size() && input[i] == ' ') {
            ++i;
        }
        std::size_t end = input.find(':', i);
        if (end == std::string_view::npos) {
            end = input.find(';', i);
        }
        if (end == std::string_view::npos) {
            end = input.size();
        }
        const std::string field(input.substr(i, end - i));
        numbers[count++] = std::strtoll(field.c_str(), nullptr, 10);
        if (end < input.size()) {
            lastSeparator = input[end];
        }
        i = end + 1;
    }
    std::int64_t frames = 0, seconds = 0, minutes = 0, hours = 0;
    std::int64_t* fields[4] = {&frames, &seconds, &minutes, &hours};
    for (int k = 0; k < count; ++k) {
        *fields[k] = numbers[count - 1 - k];
    }
    const bool dropStyle = lastSeparator == ';';
    Kind kind = Kind::NonDrop;
    if (type == 1) {
        kind = Kind::NonDrop;
    } else if (type == 2) {
        kind = Kind::RealTime;
    } else if (type == 3) {
        kind = Kind::DropFrame;
    } else if (rate.denominator != 1 && dropStyle) {
        kind = isDropRate(rate) ? Kind::DropFrame : Kind::RealTime;
    }
    // Typed text is clamped to sane ranges so that the arithmetic below cannot overflow.
    const auto clampField = [](std::int64_t v) {
        return std::clamp<std::int64_t>(v, 0, 1'000'000'000);
    };
    frames = clampField(frames);
    const std::int64_t secs =
        clampField(seconds) + (clampField(minutes) + clampField(hours) * 60) * 60;
    const auto num = static_cast<std::int64_t>(rate.numerator);
    const auto den = static_cast<std::int64_t>(rate.denominator);
    std::int64_t frame = 0;
    switch (kind) {
        case Kind::NonDrop:
            frame = frames + secs * ((num + den - 1) / den);
            break;
        case Kind::RealTime:
            frame = frames + (secs * num + den - 1) / den;
            break;
        case Kind::DropFrame:
            frame = frames + (secs / 600 + secs * 15 - secs / 60) * 2;
            break;
    }
    return frame * duration;
}

}  // namespace pm
