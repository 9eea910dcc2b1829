#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pm {

// A 128-bit identifier stored as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    bool operator==(const Guid&) const = default;

    std::string toString() const;
    // Accepts the braced form written by toString (hex digits of either case).
    static std::optional<Guid> parse(std::string_view text);
};

}  // namespace pm
