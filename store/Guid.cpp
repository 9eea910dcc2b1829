#include "store/Guid.h"

#include <cstdio>

namespace pm {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at text[pos]; false when any is not a hex digit.
bool readHex(std::string_view text, std::size_t pos, int digits, std::uint32_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexDigit(text[pos + static_cast<std::size_t>(i)]);
        if (d < 0) {
            return false;
        }
        out = out << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

}  // namespace

std::string Guid::toString() const {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1,
                  data2, data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5],
                  data4[6], data4[7]);
    return text;
}

std::optional<Guid> Guid::parse(std::string_view text) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    Guid g;
    std::uint32_t v = 0;
    if (!readHex(text, 1, 8, g.data1)) {
        return std::nullopt;
    }
    if (!readHex(text, 10, 4, v)) {
        return std::nullopt;
    }
    g.data2 = static_cast<std::uint16_t>(v);
    if (!readHex(text, 15, 4, v)) {
        return std::nullopt;
    }
    g.data3 = static_cast<std::uint16_t>(v);
    static constexpr std::size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!readHex(text, kBytePos[i], 2, v)) {
            return std::nullopt;
        }
        g.data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

}  // namespace pm
