#pragma once

#include <array>
#include <cstddef>

namespace pm::detail {

// One fixed linear-phase low-pass filter of the rate converter: 2 * halfLength + 1 taps, of which
// the halfLength + 1 distinct ones are stored from the outermost tap to the centre tap. Edges are
// fractions of the rate of the stage that runs the filter.
struct LowPassFilter {
    int threshold;
    int halfLength;
    const double* coefficients;
    double passEdge;
    double stopEdge;
};

inline constexpr std::size_t kLowPassFilterCount = 29;

// Ordered by falling threshold; the last entry (threshold 0) catches every key.
extern const std::array<LowPassFilter, kLowPassFilterCount> kLowPassFilters;

}  // namespace pm::detail
