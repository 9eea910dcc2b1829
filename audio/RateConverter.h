#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pm {

// The two sides of a rate conversion; the channel count is the same on both.
struct RateFormatPair {
    int channels = 0;
    int inputRate = 0;
    int inputBits = 0;
    int inputBytesPerFrame = 0;
    int outputRate = 0;
    int outputBits = 0;
    int outputBytesPerFrame = 0;

    friend bool operator==(const RateFormatPair&, const RateFormatPair&) = default;
};

// How a converter is built from the reduced rates U (input) and V (output).
struct RateStagePlan {
    std::int64_t reducedInput = 0;   // U
    std::int64_t reducedOutput = 0;  // V
    int stuffFactor = 1;             // zero-stuffing factor, 1 when there is no such stage
    std::int64_t filterRate = 0;     // rate of the filter stage in reduced units
    int filterGain = 1;
    double filterKey = 0.0;
    int filterThreshold = 0;
    int filterTaps = 0;
    bool interpolates = false;         // whether an interpolation stage runs
    std::int64_t interpolateFrom = 0;  // P and Q of that stage, reduced
    std::int64_t interpolateTo = 0;
};

// Streaming sample-rate converter in exact integer arithmetic: optional zero-stuffing, one fixed
// linear-phase low-pass filter in 2^28 fixed point, then linear interpolation to the output
// rate. Output frame k is aligned with input time k / outputRate (no added delay); a frame is
// ready once enough input has arrived to compute it exactly.
class RateConverter {
public:
    // Rates must be positive, widths 8, 16 or 32 bits, channels 1 to 16; check isValid().
    explicit RateConverter(const RateFormatPair& format);

    bool isValid() const { return m_valid; }
    const RateFormatPair& format() const { return m_format; }
    const RateStagePlan& plan() const { return m_plan; }

    // Runs `count` input frames through every stage.
    void push(const void* frames, std::size_t count);
    // Converted frames waiting to be pulled.
    std::size_t ready() const;
    // Writes up to `maximum` frames in the output width; returns how many.
    std::size_t pull(void* destination, std::size_t maximum);

    static RateStagePlan makePlan(int inputRate, int outputRate);

private:
    void runFilter();
    void runInterpolation();
    void compact();

    RateFormatPair m_format;
    RateStagePlan m_plan;
    bool m_valid = false;
    int m_channels = 0;
    int m_half = 0;                    // n: the filter has 2n + 1 taps
    std::vector<std::int64_t> m_taps;  // all 2n + 1 taps, fixed point, scaled by the gain
    // With zero-stuffing by F, the taps that meet non-zero input, one list per phase.
    std::vector<std::vector<std::int64_t>> m_phaseTaps;

    // Filter input (before zero-stuffing), interleaved; m_inputBase is the index of its first
    // frame, negative while the leading zero history is still held.
    std::vector<std::int32_t> m_input;
    std::int64_t m_inputBase = 0;
    std::int64_t m_inputEnd = 0;    // index one past the last input frame received
    std::int64_t m_filterNext = 0;  // next filter output (in the stuffed rate)

    // Filter output waiting for interpolation, interleaved, starting at index m_midBase.
    std::vector<std::int32_t> m_mid;
    std::int64_t m_midBase = 0;
    std::int64_t m_interpIndex = 0;  // h
    std::int64_t m_phase = 0;        // e, 1 .. Q
    std::int64_t m_reciprocal = 0;   // Rq

    // Converted frames not yet pulled, interleaved, from m_outputRead.
    std::vector<std::int32_t> m_output;
    std::size_t m_outputRead = 0;
};

}  // namespace pm
