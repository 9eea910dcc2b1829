#pragma once

#include <cstdint>
#include <string>

namespace pm {

inline constexpr std::uint32_t kGroupLocked = 0x1;

// A run of parameters that the timeline shows as one row and that can be keyed together.
struct GroupInfo {
    std::string storeKey;
    std::string displayName;
    int firstParameter = 0;
    int count = 0;
    int rowKind = 1;
    std::uint32_t flags = 0;

    bool locked() const { return (flags & kGroupLocked) != 0; }
    bool contains(int parameter) const {
        return parameter >= firstParameter && parameter < firstParameter + count;
    }
};

}  // namespace pm
