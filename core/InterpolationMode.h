#pragma once

#include <cstdint>

namespace pm {

// Mode of the segment that starts at a key. Stored files may carry other values; they are kept
// as they are and evaluated as Linear, which is why the underlying type is fixed.
enum class InterpolationMode : std::int32_t {
    Constant = 1,
    Linear = 2,
    Spline = 3,
};

}  // namespace pm
