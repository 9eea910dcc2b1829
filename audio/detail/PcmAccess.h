#pragma once

#include <cstdint>
#include <cstring>

namespace pm::detail {

// One sample value as a signed 32-bit integer: 8-bit as its value minus 128, 16-bit
// sign-extended, 32-bit as it is. Little-endian storage, as on every target we build for.
inline std::int32_t loadSample(const std::uint8_t* p, int bits) {
    if (bits == 8) {
        return static_cast<std::int32_t>(*p) - 128;
    }
    if (bits == 16) {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Stores the low bits of `value` in the given width (8-bit gets its 128 offset back).
inline void storeSample(std::uint8_t* p, int bits, std::int32_t value) {
    if (bits == 8) {
        *p = static_cast<std::uint8_t>(value + 128);
    } else if (bits == 16) {
        const auto v = static_cast<std::int16_t>(value);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &value, 4);
    }
}

inline std::int32_t clampToInt32(std::int64_t v) {
    if (v > INT32_MAX) {
        return INT32_MAX;
    }
    if (v < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(v);
}

inline std::int32_t clampToInt32(double v) {
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(v);  // truncates toward zero
}

inline bool isSupportedWidth(int bits) {
    return bits == 8 || bits == 16 || bits == 32;
}

}  // namespace pm::detail
