#include "audio/RateConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "audio/detail/LowPassFilters.h"
#include "audio/detail/PcmAccess.h"

namespace pm {

namespace {

constexpr int kMaxChannels = 16;
constexpr int kCoefficientShift = 28;
constexpr std::int64_t kCoefficientRound = std::int64_t{1} << (kCoefficientShift - 1);
constexpr int kReciprocalShift = 30;
constexpr std::int64_t kReciprocalRound = std::int64_t{1} << (kReciprocalShift - 1);
// Consumed frames are dropped from the front of a buffer once this many have piled up, so that
// long conversions neither grow without bound nor move memory on every push.
constexpr std::int64_t kCompactFrames = 4096;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return -floorDiv(-a, b);
}

// round(c * gain * 2^28), halves away from zero.
std::int64_t toFixed(double c, int gain) {
    return static_cast<std::int64_t>(std::round(c * gain * 268435456.0));
}

void dropFront(std::vector<std::int32_t>& buffer, std::int64_t& base, std::int64_t keepFrom,
               int channels) {
    // A stage may have skipped past frames that have not arrived yet; those are dropped as
    // they arrive, so the base only ever moves over frames that are held.
    const std::int64_t held = static_cast<std::int64_t>(buffer.size()) / channels;
    const std::int64_t drop = std::min(keepFrom - base, held);
    if (drop < kCompactFrames) {
        return;
    }
    buffer.erase(buffer.begin(), buffer.begin() + drop * channels);
    base += drop;
}

}  // namespace

RateStagePlan RateConverter::makePlan(int inputRate, int outputRate) {
    RateStagePlan plan;
    if (inputRate <= 0 || outputRate <= 0) {
        return plan;
    }
    const std::int64_t g = std::gcd(inputRate, outputRate);
    const std::int64_t u = inputRate / g;
    const std::int64_t v = outputRate / g;
    plan.reducedInput = u;
    plan.reducedOutput = v;
    const double cutoff = static_cast<double>(std::min(u, v)) / 2.0;
    if (v == 1) {
        plan.stuffFactor = 1;
        plan.filterRate = u;
        plan.filterGain = 1;
        plan.interpolates = true;
        plan.interpolateFrom = u;
        plan.interpolateTo = 1;
    } else if (u == 1) {
        plan.stuffFactor = static_cast<int>(v);
        plan.filterRate = v;
        plan.filterGain = static_cast<int>(v);
        plan.interpolates = false;
    } else {
        const int l = (v % 3 == 0) ? 3 : 2;
        plan.stuffFactor = l;
        plan.filterRate = u * l;
        plan.filterGain = l;
        plan.interpolates = true;
        const std::int64_t p = u * l;
        const std::int64_t h = std::gcd(p, v);
        plan.interpolateFrom = p / h;
        plan.interpolateTo = v / h;
    }
    plan.filterKey = cutoff * 576.0 / static_cast<double>(plan.filterRate) + 0.1;
    for (const detail::LowPassFilter& f : detail::kLowPassFilters) {
        if (f.threshold <= plan.filterKey) {
            plan.filterThreshold = f.threshold;
            plan.filterTaps = 2 * f.halfLength + 1;
            break;
        }
    }
    return plan;
}

RateConverter::RateConverter(const RateFormatPair& format) : m_format(format) {
    m_channels = format.channels;
    m_valid = m_channels >= 1 && m_channels <= kMaxChannels && format.inputRate > 0 &&
              format.outputRate > 0 && detail::isSupportedWidth(format.inputBits) &&
              detail::isSupportedWidth(format.outputBits) &&
              format.inputBytesPerFrame >= m_channels * format.inputBits / 8 &&
              format.outputBytesPerFrame >= m_channels * format.outputBits / 8;
    if (!m_valid) {
        return;
    }
    m_plan = makePlan(format.inputRate, format.outputRate);
    const detail::LowPassFilter* filter = &detail::kLowPassFilters.back();
    for (const detail::LowPassFilter& f : detail::kLowPassFilters) {
        if (f.threshold == m_plan.filterThreshold) {
            filter = &f;
            break;
        }
    }
    m_half = filter->halfLength;
    m_taps.resize(2 * static_cast<std::size_t>(m_half) + 1);
    for (int j = 0; j <= m_half; ++j) {
        const std::int64_t c = toFixed(filter->coefficients[j], m_plan.filterGain);
        m_taps[j] = c;
        m_taps[2 * m_half - j] = c;
    }
    if (m_plan.stuffFactor > 1) {
        const int f = m_plan.stuffFactor;
        m_phaseTaps.resize(static_cast<std::size_t>(f));
        for (int phase = 0; phase < f; ++phase) {
            for (int t = phase; t <= 2 * m_half; t += f) {
                m_phaseTaps[static_cast<std::size_t>(phase)].push_back(m_taps[t]);
            }
        }
    }
    // The filter sees zeros before the first input frame.
    const std::int64_t history = ceilDiv(m_half, m_plan.stuffFactor);
    m_inputBase = -history;
    m_input.assign(static_cast<std::size_t>(history * m_channels), 0);
    if (m_plan.interpolates) {
        const std::int64_t q = m_plan.interpolateTo;
        m_phase = q;
        m_reciprocal = ((std::int64_t{1} << kReciprocalShift) + q / 2) / q;
    }
}

void RateConverter::push(const void* frames, std::size_t count) {
    if (!m_valid || count == 0) {
        return;
    }
    const auto* in = static_cast<const std::uint8_t*>(frames);
    const int bytes = m_format.inputBits / 8;
    const std::size_t start = m_input.size();
    m_input.resize(start + count * static_cast<std::size_t>(m_channels));
    std::int32_t* dst = m_input.data() + start;
    for (std::size_t f = 0; f < count; ++f) {
        const std::uint8_t* frame = in + f * static_cast<std::size_t>(m_format.inputBytesPerFrame);
        for (int c = 0; c < m_channels; ++c) {
            *dst++ = detail::loadSample(frame + c * bytes, m_format.inputBits);
        }
    }
    m_inputEnd += static_cast<std::int64_t>(count);
    runFilter();
    if (m_plan.interpolates && m_plan.interpolateTo != 1) {
        runInterpolation();
    }
    compact();
}

void RateConverter::runFilter() {
    const std::int64_t f = m_plan.stuffFactor;
    const std::int64_t n = m_half;
    const std::int64_t lastKnown = f * m_inputEnd - 1;  // last stuffed index that is known
    // Decimating by U needs only every U-th filtered frame.
    const bool decimate = m_plan.interpolates && m_plan.interpolateTo == 1;
    const std::int64_t step = decimate ? m_plan.interpolateFrom : 1;
    const bool direct = !m_plan.interpolates || decimate;
    std::vector<std::int32_t>& sink = direct ? m_output : m_mid;
    std::array<std::int64_t, kMaxChannels> acc{};
    const std::int64_t* taps = m_taps.data();
    while (m_filterNext + n <= lastKnown) {
        const std::int64_t i = m_filterNext;
        acc.fill(0);
        if (f == 1) {
            const std::int32_t* x = m_input.data() + (i - m_inputBase) * m_channels;
            // x points at the centre frame; pair the taps symmetrically around it.
            for (int c = 0; c < m_channels; ++c) {
                std::int64_t s = taps[n] * x[c];
                for (std::int64_t j = 0; j < n; ++j) {
                    s += taps[j] * (static_cast<std::int64_t>(x[(j - n) * m_channels + c]) +
                                    x[(n - j) * m_channels + c]);
                }
                acc[c] = s;
            }
        } else {
            // Only every f-th stuffed frame is non-zero: visit just those, with the taps of this
            // output's phase laid out contiguously.
            const std::int64_t mLo = ceilDiv(i - n, f);
            const std::int64_t phase = mLo * f - (i - n);
            const std::vector<std::int64_t>& ph = m_phaseTaps[static_cast<std::size_t>(phase)];
            const std::int32_t* x = m_input.data() + (mLo - m_inputBase) * m_channels;
            const std::size_t count = ph.size();
            if (m_channels == 2) {
                std::int64_t s0 = 0;
                std::int64_t s1 = 0;
                for (std::size_t k = 0; k < count; ++k) {
                    s0 += ph[k] * x[2 * k];
                    s1 += ph[k] * x[2 * k + 1];
                }
                acc[0] = s0;
                acc[1] = s1;
            } else {
                for (int c = 0; c < m_channels; ++c) {
                    std::int64_t sum = 0;
                    for (std::size_t k = 0; k < count; ++k) {
                        sum += ph[k] * x[k * static_cast<std::size_t>(m_channels) + c];
                    }
                    acc[c] = sum;
                }
            }
        }
        for (int c = 0; c < m_channels; ++c) {
            // Clamped rather than wrapped: an overshoot at full scale must not flip sign.
            sink.push_back(detail::clampToInt32((acc[c] + kCoefficientRound) >> kCoefficientShift));
        }
        m_filterNext += step;
    }
}

void RateConverter::runInterpolation() {
    const std::int64_t p = m_plan.interpolateFrom;
    const std::int64_t q = m_plan.interpolateTo;
    const std::int64_t midEnd = m_midBase + static_cast<std::int64_t>(m_mid.size()) / m_channels;
    while (true) {
        const bool exact = m_phase == q;
        if ((exact ? m_interpIndex : m_interpIndex + 1) >= midEnd) {
            break;
        }
        const std::int32_t* x = m_mid.data() + (m_interpIndex - m_midBase) * m_channels;
        if (exact) {
            m_output.insert(m_output.end(), x, x + m_channels);
        } else {
            const std::int64_t e = m_phase;
            for (int c = 0; c < m_channels; ++c) {
                const std::int64_t mix = (q - e) * x[m_channels + c] + e * x[c];
                m_output.push_back(detail::clampToInt32((mix * m_reciprocal + kReciprocalRound) >>
                                                        kReciprocalShift));
            }
        }
        m_phase -= p;
        while (m_phase < 1) {
            m_phase += q;
            ++m_interpIndex;
        }
    }
}

void RateConverter::compact() {
    const std::int64_t f = m_plan.stuffFactor;
    dropFront(m_input, m_inputBase, ceilDiv(m_filterNext - m_half, f), m_channels);
    if (m_plan.interpolates && m_plan.interpolateTo != 1) {
        dropFront(m_mid, m_midBase, m_interpIndex, m_channels);
    }
    if (m_outputRead >= static_cast<std::size_t>(kCompactFrames * m_channels)) {
        m_output.erase(m_output.begin(),
                       m_output.begin() + static_cast<std::ptrdiff_t>(m_outputRead));
        m_outputRead = 0;
    }
}

std::size_t RateConverter::ready() const {
    if (!m_valid) {
        return 0;
    }
    return (m_output.size() - m_outputRead) / static_cast<std::size_t>(m_channels);
}

std::size_t RateConverter::pull(void* destination, std::size_t maximum) {
    const std::size_t count = std::min(maximum, ready());
    auto* out = static_cast<std::uint8_t*>(destination);
    const int bits = m_format.outputBits;
    const int bytes = bits / 8;
    const std::int32_t* src = m_output.data() + m_outputRead;
    for (std::size_t f = 0; f < count; ++f) {
        std::uint8_t* frame = out + f * static_cast<std::size_t>(m_format.outputBytesPerFrame);
        for (int c = 0; c < m_channels; ++c) {
            std::int32_t v = *src++;
            if (bits == 16) {
                v = std::clamp(v, -32768, 32767);
            } else if (bits == 8) {
                v = std::clamp(v, -128, 127);
            }
            detail::storeSample(frame + c * bytes, bits, v);
        }
    }
    m_outputRead += count * static_cast<std::size_t>(m_channels);
    if (m_outputRead == m_output.size()) {
        m_output.clear();
        m_outputRead = 0;
    }
    return count;
}

}  // namespace pm
