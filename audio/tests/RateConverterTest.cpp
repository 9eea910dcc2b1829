#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <numeric>
#include <random>
#include <vector>

#include "audio/RateConverter.h"
#include "audio/detail/LowPassFilters.h"

namespace pm {
namespace {

struct PlanCase {
    int in;
    int out;
    std::int64_t u;
    std::int64_t v;
    int stuff;
    std::int64_t filterRate;
    int gain;
    int threshold;
    int taps;
    bool interpolates;
    std::int64_t from;
    std::int64_t to;
};

TEST(RateConverterTest, StagePlanPicksStagesAndFilter) {
    const std::vector<PlanCase> cases = {
        {44100, 48000, 147, 160, 2, 294, 2, 144, 75, true, 147, 80},
        {48000, 44100, 160, 147, 3, 480, 3, 88, 123, true, 160, 49},
        {22050, 44100, 1, 2, 2, 2, 2, 144, 75, false, 0, 0},
        {44100, 22050, 2, 1, 1, 2, 1, 144, 75, true, 2, 1},
        {44100, 8000, 441, 80, 2, 882, 2, 26, 411, true, 441, 40},
    };
    for (const PlanCase& c : cases) {
        const RateStagePlan p = RateConverter::makePlan(c.in, c.out);
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out);
        EXPECT_EQ(p.reducedInput, c.u);
        EXPECT_EQ(p.reducedOutput, c.v);
        EXPECT_EQ(p.stuffFactor, c.stuff);
        EXPECT_EQ(p.filterRate, c.filterRate);
        EXPECT_EQ(p.filterGain, c.gain);
        EXPECT_EQ(p.filterThreshold, c.threshold);
        EXPECT_EQ(p.filterTaps, c.taps);
        EXPECT_EQ(p.interpolates, c.interpolates);
        if (c.interpolates) {
            EXPECT_EQ(p.interpolateFrom, c.from);
            EXPECT_EQ(p.interpolateTo, c.to);
        }
    }
    EXPECT_NEAR(RateConverter::makePlan(44100, 48000).filterKey, 144.1, 1e-9);
    EXPECT_NEAR(RateConverter::makePlan(48000, 44100).filterKey, 88.3, 1e-9);
}

double response(const detail::LowPassFilter& f, double frequency) {
    double s = f.coefficients[f.halfLength];
    for (int k = 0; k < f.halfLength; ++k) {
        s += 2.0 * f.coefficients[k] *
             std::cos(2.0 * std::numbers::pi * frequency * (f.halfLength - k));
    }
    return s;
}

TEST(RateConverterTest, EveryFilterMeetsItsEdges) {
    int previous = 1 << 30;
    for (const detail::LowPassFilter& f : detail::kLowPassFilters) {
        SCOPED_TRACE(f.threshold);
        EXPECT_LT(f.threshold, previous);
        previous = f.threshold;
        for (int i = 0; i <= 2000; ++i) {
            const double pass = f.passEdge * i / 2000.0;
            EXPECT_LE(std::fabs(20.0 * std::log10(response(f, pass))), 0.1) << pass;
            const double stop = f.stopEdge + (0.5 - f.stopEdge) * i / 2000.0;
            EXPECT_LE(20.0 * std::log10(std::fabs(response(f, stop)) + 1e-300), -95.0) << stop;
        }
    }
    EXPECT_EQ(detail::kLowPassFilters.back().threshold, 0);
}

// The conversion spelled out over whole signals, straight from its definition: zero-stuff, filter
// with zero history, interpolate from the closed-form position of every output frame.
std::vector<std::int32_t> referenceConvert(const std::vector<std::int32_t>& x, int channels,
                                           int inRate, int outRate, std::size_t outFrames) {
    const RateStagePlan plan = RateConverter::makePlan(inRate, outRate);
    const detail::LowPassFilter* filter = nullptr;
    for (const auto& f : detail::kLowPassFilters) {
        if (f.threshold == plan.filterThreshold) {
            filter = &f;
        }
    }
    const std::int64_t n = filter->halfLength;
    std::vector<std::int64_t> c(n + 1);
    for (std::int64_t j = 0; j <= n; ++j) {
        c[j] = std::llround(filter->coefficients[j] * plan.filterGain * 268435456.0);
    }
    const std::int64_t frames = static_cast<std::int64_t>(x.size()) / channels;
    const std::int64_t stuffed = frames * plan.stuffFactor;
    auto xs = [&](std::int64_t s, int ch) -> std::int64_t {
        if (s < 0 || s >= stuffed || s % plan.stuffFactor != 0) {
            return 0;
        }
        return x[(s / plan.stuffFactor) * channels + ch];
    };
    auto y = [&](std::int64_t i, int ch) -> std::int64_t {
        std::int64_t s = c[n] * xs(i, ch);
        for (std::int64_t j = 0; j < n; ++j) {
            s += c[j] * (xs(i - n + j, ch) + xs(i + n - j, ch));
        }
        return (s + (1 << 27)) >> 28;
    };
    std::vector<std::int32_t> out;
    for (std::size_t k = 0; k < outFrames; ++k) {
        for (int ch = 0; ch < channels; ++ch) {
            std::int64_t v;
            if (!plan.interpolates) {
                v = y(static_cast<std::int64_t>(k), ch);
            } else {
                const std::int64_t p = plan.interpolateFrom;
                const std::int64_t q = plan.interpolateTo;
                const std::int64_t pos = static_cast<std::int64_t>(k) * p;
                const std::int64_t h = pos / q;
                const std::int64_t e = q - pos % q;
                if (e == q) {
                    v = y(h, ch);
                } else {
                    const std::int64_t rq = ((std::int64_t{1} << 30) + q / 2) / q;
                    v = (((q - e) * y(h + 1, ch) + e * y(h, ch)) * rq + (1 << 29)) >> 30;
                }
            }
            out.push_back(static_cast<std::int32_t>(v));
        }
    }
    return out;
}

// Feeds the converter in uneven pieces and collects everything it makes ready.
std::vector<std::uint8_t> convertInPieces(RateConverter& converter,
                                          const std::vector<std::uint8_t>& in, std::size_t frames,
                                          std::mt19937& rng) {
    const RateFormatPair& f = converter.format();
    std::vector<std::uint8_t> out;
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t piece = std::min<std::size_t>(frames - done, 1 + rng() % 700);
        converter.push(in.data() + done * f.inputBytesPerFrame, piece);
        done += piece;
        // Pull only part of what is ready now and then, to exercise the waiting output.
        const std::size_t take = (rng() % 3 == 0) ? converter.ready() / 2 : converter.ready();
        const std::size_t old = out.size();
        out.resize(old + take * f.outputBytesPerFrame);
        EXPECT_EQ(converter.pull(out.data() + old, take), take);
    }
    const std::size_t rest = converter.ready();
    const std::size_t old = out.size();
    out.resize(old + rest * f.outputBytesPerFrame);
    EXPECT_EQ(converter.pull(out.data() + old, rest + 5), rest);
    return out;
}

struct ExactCase {
    int in;
    int out;
    int channels;
    int bits;
};

TEST(RateConverterTest, MatchesTheDefinitionExactly) {
    const std::vector<ExactCase> cases = {
        {44100, 48000, 2, 16}, {48000, 44100, 2, 16}, {22050, 44100, 1, 16},
        {44100, 22050, 2, 32}, {44100, 8000, 1, 16},  {11025, 48000, 2, 8},
    };
    std::mt19937 rng(7);
    for (const ExactCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", " << c.bits << " bit");
        const std::size_t frames = 6000;
        const int bytes = c.bits / 8;
        const std::int64_t limit = c.bits == 8 ? 60 : c.bits == 16 ? 16000 : (1LL << 30);
        std::uniform_int_distribution<std::int64_t> dist(-limit, limit);
        std::vector<std::int32_t> values(frames * c.channels);
        std::vector<std::uint8_t> raw(values.size() * bytes);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto v = static_cast<std::int32_t>(dist(rng));
            values[i] = v;
            if (c.bits == 8) {
                raw[i] = static_cast<std::uint8_t>(v + 128);
            } else if (c.bits == 16) {
                const auto s = static_cast<std::int16_t>(v);
                std::memcpy(&raw[i * 2], &s, 2);
            } else {
                std::memcpy(&raw[i * 4], &v, 4);
            }
        }
        RateConverter converter(
            {c.channels, c.in, c.bits, c.channels * bytes, c.out, c.bits, c.channels * bytes});
        ASSERT_TRUE(converter.isValid());
        const std::vector<std::uint8_t> got = convertInPieces(converter, raw, frames, rng);
        const std::size_t gotFrames = got.size() / (c.channels * bytes);
        // Everything but the filter's look-ahead comes out.
        const double expected = static_cast<double>(frames) * c.out / c.in;
        const double lookAhead = 260.0 * c.out / (c.in * converter.plan().stuffFactor) + 2;
        EXPECT_GE(static_cast<double>(gotFrames), expected - lookAhead);
        EXPECT_LE(static_cast<double>(gotFrames), expected + 1);
        const std::vector<std::int32_t> want =
            referenceConvert(values, c.channels, c.in, c.out, gotFrames);
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < want.size(); ++i) {
            std::int32_t v;
            if (c.bits == 8) {
                v = std::clamp(want[i], -128, 127) + 128;
                mismatches += got[i] != v;
            } else if (c.bits == 16) {
                std::int16_t s;
                std::memcpy(&s, &got[i * 2], 2);
                mismatches += s != std::clamp(want[i], -32768, 32767);
            } else {
                std::memcpy(&v, &got[i * 4], 4);
                mismatches += v != want[i];
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

std::vector<std::int16_t> sine(int rate, double frequency, double amplitude, std::size_t frames) {
    std::vector<std::int16_t> s(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        s[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate)));
    }
    return s;
}

std::vector<std::int16_t> convertMono16(const std::vector<std::int16_t>& in, int from, int to) {
    RateConverter converter({1, from, 16, 2, to, 16, 2});
    converter.push(in.data(), in.size());
    std::vector<std::int16_t> out(converter.ready());
    converter.pull(out.data(), out.size());
    return out;
}

TEST(RateConverterTest, SineKeepsItsPitchAndLevelThereAndBack) {
    const std::vector<std::int16_t> in = sine(44100, 1000.0, 12000.0, 44100);
    const std::vector<std::int16_t> up = convertMono16(in, 44100, 48000);
    ASSERT_GT(up.size(), 47000u);
    const std::vector<std::int16_t> ideal = sine(48000, 1000.0, 12000.0, up.size());
    for (std::size_t i = 0; i < up.size(); ++i) {
        ASSERT_NEAR(up[i], ideal[i], 12000.0 * 0.02) << i;  // within the 0.1 dB ripple and more
    }
    const std::vector<std::int16_t> back = convertMono16(up, 48000, 44100);
    ASSERT_GT(back.size(), 43000u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        ASSERT_NEAR(back[i], in[i], 12000.0 * 0.03) << i;
    }
}

TEST(RateConverterTest, AliasesAreRemovedWhenGoingDown) {
    // 20 kHz cannot exist at 22.05 kHz: it must vanish, not fold down to 2.05 kHz.
    const std::vector<std::int16_t> in = sine(44100, 20000.0, 16000.0, 8820);
    const std::vector<std::int16_t> down = convertMono16(in, 44100, 22050);
    ASSERT_GT(down.size(), 4000u);
    for (std::size_t i = 400; i < down.size(); ++i) {
        ASSERT_LE(std::abs(down[i]), 2) << i;
    }
}

TEST(RateConverterTest, FullScaleOvershootSaturatesInsteadOfWrapping) {
    // A full-scale square wave rings past the rails in the filter; the ringing must clip.
    for (int bits : {8, 16, 32}) {
        const int bytes = bits / 8;
        const std::size_t frames = 4000;
        std::vector<std::uint8_t> in(frames * bytes);
        for (std::size_t i = 0; i < frames; ++i) {
            const bool high = (i / 50) % 2 == 0;
            if (bits == 8) {
                in[i] = high ? 255 : 0;
            } else if (bits == 16) {
                const std::int16_t v = high ? 32767 : -32768;
                std::memcpy(&in[i * 2], &v, 2);
            } else {
                const std::int32_t v = high ? INT32_MAX : INT32_MIN;
                std::memcpy(&in[i * 4], &v, 4);
            }
        }
        RateConverter converter({1, 44100, bits, bytes, 48000, bits, bytes});
        converter.push(in.data(), frames);
        std::vector<std::uint8_t> out(converter.ready() * bytes);
        converter.pull(out.data(), converter.ready());
        // Away from the edges the output sits at the rail of its half period.
        for (std::size_t k = 0; k + 1 < out.size() / bytes; ++k) {
            const std::size_t source = k * 44100 / 48000;
            if (source % 50 < 10 || source % 50 > 40) {
                continue;
            }
            const bool high = (source / 50) % 2 == 0;
            std::int64_t v;
            if (bits == 8) {
                v = out[k] - 128;
            } else if (bits == 16) {
                std::int16_t s;
                std::memcpy(&s, &out[k * 2], 2);
                v = s;
            } else {
                std::int32_t s;
                std::memcpy(&s, &out[k * 4], 4);
                v = s;
            }
            ASSERT_EQ(v > 0, high) << bits << " bit, frame " << k;
        }
    }
}

}  // namespace
}  // namespace pm
