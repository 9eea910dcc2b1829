#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/SampleConversion.h"

namespace pm {
namespace {

// Packs 32-bit test values into a buffer of the given width (8-bit values are given unsigned).
std::vector<std::uint8_t> pack(const std::vector<std::int64_t>& values, int bits) {
    std::vector<std::uint8_t> out(values.size() * static_cast<std::size_t>(bits / 8));
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (bits == 8) {
            out[i] = static_cast<std::uint8_t>(values[i]);
        } else if (bits == 16) {
            const auto v = static_cast<std::int16_t>(values[i]);
            std::memcpy(&out[i * 2], &v, 2);
        } else {
            const auto v = static_cast<std::int32_t>(values[i]);
            std::memcpy(&out[i * 4], &v, 4);
        }
    }
    return out;
}

struct WidthCase {
    int from;
    int to;
    std::vector<std::int64_t> in;
    std::vector<std::int64_t> expected;
};

TEST(SampleConversionTest, WidthConversionFollowsTheShiftRules) {
    const std::vector<WidthCase> cases = {
        {8, 16, {0, 128, 255, 129}, {-32768, 0, 32512, 256}},
        {8, 32, {0, 128, 255}, {INT32_MIN, 0, 127LL << 24}},
        {16, 8, {-32768, -1, 0, 255, 256, 32767}, {0, 127, 128, 128, 129, 255}},
        {16, 32, {-32768, -1, 1, 32767}, {INT32_MIN, -65536, 65536, 32767LL << 16}},
        {32, 8, {INT32_MIN, -1, 0, 1 << 24, INT32_MAX}, {0, 127, 128, 129, 255}},
        {32, 16, {INT32_MIN, -1, 65535, 65536, INT32_MAX}, {-32768, -1, 0, 1, 32767}},
        {16, 16, {-5, 7}, {-5, 7}},
    };
    for (const WidthCase& c : cases) {
        const std::vector<std::uint8_t> in = pack(c.in, c.from);
        std::vector<std::uint8_t> out(c.expected.size() * static_cast<std::size_t>(c.to / 8));
        ASSERT_TRUE(convertWidth(c.in.size(), in.data(), c.from, out.data(), c.to, 1));
        EXPECT_EQ(out, pack(c.expected, c.to)) << c.from << " -> " << c.to;
    }
}

TEST(SampleConversionTest, RejectsUnsupportedWidths) {
    std::uint8_t buffer[8] = {};
    EXPECT_FALSE(convertWidth(1, buffer, 24, buffer, 16, 1));
    EXPECT_FALSE(convertChannels(1, buffer, 2, buffer, 1, 24));
    EXPECT_FALSE(convertChannels(1, buffer, 17, buffer, 1, 16));
}

struct ChannelCase {
    int bits;
    int from;
    int to;
    std::vector<std::int64_t> in;
    std::vector<std::int64_t> expected;
};

TEST(SampleConversionTest, ChannelConversionFollowsTheMixRules) {
    const double k3 = 0.707945789;
    const double k12 = 0.251188643;
    const double norm = 0.374941852;
    // 5.1 frame: FL, FR, C, LFE, BL, BR.
    const std::vector<std::int64_t> six = {1000, -2000, 3000, 4000, -5000, 6000};
    const double s = k3 * 3000 + k12 * 4000;
    const auto left = static_cast<std::int64_t>((1000 + s + k3 * -5000) * norm);
    const auto right = static_cast<std::int64_t>((-2000 + s + k3 * 6000) * norm);
    const std::vector<ChannelCase> cases = {
        {16, 2, 1, {1, 1, 3, 3, -3, -3, 32767, 32767}, {0, 2, -2, 32766}},
        {16, 1, 2, {-7, 9}, {-7, -7, 9, 9}},
        {32, 2, 1, {INT32_MAX, INT32_MAX, -3, 2}, {INT32_MAX - 1, 0}},
        // 8-bit mixes in the top byte: 129 and 131 average to 130, 0 and 255 to 127 + 0.5 -> 127.
        {8, 2, 1, {129, 131, 0, 255, 128, 128}, {130, 127, 128}},
        {8, 1, 2, {200}, {200, 200}},
        {16, 6, 2, six, {left, right}},
        {16, 2, 6, {5, -6}, {5, -6, 0, 0, 0, 0}},
        {16, 6, 1, six, {1000}},
        {16, 3, 4, {1, 2, 3}, {1, 2, 3, 0}},
    };
    for (const ChannelCase& c : cases) {
        const std::size_t frames = c.in.size() / static_cast<std::size_t>(c.from);
        const std::vector<std::uint8_t> in = pack(c.in, c.bits);
        std::vector<std::uint8_t> out(frames * static_cast<std::size_t>(c.to * c.bits / 8));
        ASSERT_TRUE(convertChannels(frames, in.data(), c.from, out.data(), c.to, c.bits));
        EXPECT_EQ(out, pack(c.expected, c.bits)) << c.bits << " bit " << c.from << " -> " << c.to;
    }
}

}  // namespace
}  // namespace pm
