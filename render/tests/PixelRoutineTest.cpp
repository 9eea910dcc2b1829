#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "render/BlurFilter.h"
#include "render/detail/ImageOps.h"
#include "render/tests/TestImages.h"

namespace pm {
namespace {

using test::TestImage;

struct Size {
    int width;
    int height;
};
// Odd sizes, one narrower than a vector, one wider than several, and widths on either side of
// one and two 256-bit vectors of pixels and of Yuy2 pairs, so every vector loop ends in a tail
// of each length (three-byte rows also stop early for their four-byte loads).
const Size kSizes[] = {{1, 1},  {3, 2},  {7, 5},  {8, 3},  {9, 2},  {15, 3}, {16, 2},
                       {17, 4}, {18, 3}, {31, 2}, {32, 3}, {33, 9}, {34, 2}, {101, 17}};

int bpp(PixelFormat f) {
    return bytesPerPixel(f);
}

// Runs `routine` on every available path with the same inputs and checks each destination block,
// slack included, against the plain result.
void expectSameOnAllPaths(const std::string& what,
                          const std::function<void(const RoutineTable&, TestImage&)>& run,
                          const TestImage& destination) {
    TestImage reference(destination);
    run(detail::kernelsFor(CodePath::Plain).routines, reference);
    for (CodePath path : test::availablePaths()) {
        TestImage out(destination);
        run(detail::kernelsFor(path).routines, out);
        ASSERT_EQ(out.memory, reference.memory) << what << " on " << test::pathName(path);
    }
}

struct Conversion {
    const char* name;
    PixelFormat from;
    PixelFormat to;
    ConvertRoutine RoutineTable::*routine;
};
const Conversion kConversions[] = {
    {"bgra32ToYuy2", PixelFormat::Bgra32, PixelFormat::Yuy2, &RoutineTable::bgra32ToYuy2},
    {"yuy2ToBgra32", PixelFormat::Yuy2, PixelFormat::Bgra32, &RoutineTable::yuy2ToBgra32},
    {"bgr24ToYuy2", PixelFormat::Bgr24, PixelFormat::Yuy2, &RoutineTable::bgr24ToYuy2},
    {"yuy2ToBgr24", PixelFormat::Yuy2, PixelFormat::Bgr24, &RoutineTable::yuy2ToBgr24},
    {"bgr24ToBgra32", PixelFormat::Bgr24, PixelFormat::Bgra32, &RoutineTable::bgr24ToBgra32},
    {"bgra32ToBgr24", PixelFormat::Bgra32, PixelFormat::Bgr24, &RoutineTable::bgra32ToBgr24},
    {"bgra32ToYuva32", PixelFormat::Bgra32, PixelFormat::Yuva32, &RoutineTable::bgra32ToYuva32},
    {"yuva32ToBgra32", PixelFormat::Yuva32, PixelFormat::Bgra32, &RoutineTable::yuva32ToBgra32},
    {"bgr24ToYuva32", PixelFormat::Bgr24, PixelFormat::Yuva32, &RoutineTable::bgr24ToYuva32},
    {"yuva32ToBgr24", PixelFormat::Yuva32, PixelFormat::Bgr24, &RoutineTable::yuva32ToBgr24},
    {"yuy2ToYuva32", PixelFormat::Yuy2, PixelFormat::Yuva32, &RoutineTable::yuy2ToYuva32},
    {"yuva32ToYuy2", PixelFormat::Yuva32, PixelFormat::Yuy2, &RoutineTable::yuva32ToYuy2},
};

TEST(PixelRoutines, ConversionsAgreeOnEveryPath) {
    std::mt19937 rng(1);
    for (const Conversion& c : kConversions) {
        for (const Size s : kSizes) {
            const bool flip = (s.width + s.height) % 2 == 0;
            const TestImage src(rowBytes(c.from, static_cast<std::uint32_t>(s.width)), s.height,
                                flip, rng);
            const TestImage dst(rowBytes(c.to, static_cast<std::uint32_t>(s.width)), s.height,
                                !flip, rng);
            expectSameOnAllPaths(
                c.name,
                [&](const RoutineTable& t, TestImage& out) {
                    (t.*c.routine)(s.width, s.height, out.top, out.pitch, src.top, src.pitch);
                },
                dst);
        }
    }
}

TEST(PixelRoutines, FillsAndCopyAgreeOnEveryPath) {
    std::mt19937 rng(2);
    struct Fill {
        const char* name;
        PixelFormat format;
        FillRoutine RoutineTable::*routine;
    };
    const Fill fills[] = {{"fillYuva32", PixelFormat::Yuva32, &RoutineTable::fillYuva32},
                          {"fillBgra32", PixelFormat::Bgra32, &RoutineTable::fillBgra32},
                          {"fillYuy2", PixelFormat::Yuy2, &RoutineTable::fillYuy2},
                          {"fillBgr24", PixelFormat::Bgr24, &RoutineTable::fillBgr24}};
    for (const Fill& f : fills) {
        for (const Size s : kSizes) {
            const TestImage dst(rowBytes(f.format, static_cast<std::uint32_t>(s.width)), s.height,
                                s.width % 2 == 1, rng);
            const std::uint32_t pixel = static_cast<std::uint32_t>(rng());
            expectSameOnAllPaths(
                f.name,
                [&](const RoutineTable& t, TestImage& out) {
                    (t.*f.routine)(s.width, s.height, out.top, out.pitch, pixel);
                },
                dst);
        }
    }
    for (const Size s : kSizes) {
        const std::size_t bytes = static_cast<std::size_t>(s.width) * 3;
        const TestImage src(bytes, s.height, true, rng);
        const TestImage dst(bytes, s.height, false, rng);
        expectSameOnAllPaths(
            "copyRows",
            [&](const RoutineTable& t, TestImage& out) {
                t.copyRows(bytes, s.height, out.top, out.pitch, src.top, src.pitch);
            },
            dst);
    }
}

TEST(PixelRoutines, MixesAgreeOnEveryPath) {
    std::mt19937 rng(3);
    for (const Size s : kSizes) {
        TestImage a(static_cast<std::size_t>(s.width) * 4, s.height, true, rng);
        TestImage b(static_cast<std::size_t>(s.width) * 4, s.height, false, rng);
        // Alphas at the extremes as well as between them.
        for (std::size_t i = 3; i < a.memory.size(); i += 4) {
            a.memory[i] = (i / 4) % 3 == 0 ? 0 : ((i / 4) % 3 == 1 ? 255 : a.memory[i]);
            b.memory[i] = (i / 8) % 3 == 0 ? 0 : b.memory[i];
        }
        const TestImage dst(static_cast<std::size_t>(s.width) * 4, s.height, true, rng);
        for (const int weight : {0, 1, 1000, 2048, 4095, 4096}) {
            expectSameOnAllPaths(
                "mix",
                [&](const RoutineTable& t, TestImage& out) {
                    t.mix(static_cast<std::size_t>(s.width) * 4 - 1, s.height, out.top, out.pitch,
                          a.top, a.pitch, b.top, b.pitch, weight);
                },
                dst);
            expectSameOnAllPaths(
                "mixAlpha",
                [&](const RoutineTable& t, TestImage& out) {
                    t.mixAlpha(s.width, s.height, out.top, out.pitch, a.top, a.pitch, b.top,
                               b.pitch, weight);
                },
                dst);
            expectSameOnAllPaths(
                "composite",
                [&](const RoutineTable& t, TestImage& out) {
                    t.composite(s.width, s.height, out.top, out.pitch, a.top, a.pitch, weight);
                },
                dst);
            // In place, as a transition mixes into one of its scenes.
            expectSameOnAllPaths(
                "mix in place",
                [&](const RoutineTable& t, TestImage& out) {
                    t.mix(static_cast<std::size_t>(s.width) * 4, s.height, out.top, out.pitch,
                          out.top, out.pitch, b.top, b.pitch, weight);
                },
                dst);
        }
    }
}

TEST(PixelRoutines, ResamplingAgreesOnEveryPath) {
    std::mt19937 rng(4);
    const Size pairs[][2] = {{{1, 1}, {3, 2}},     {{7, 5}, {3, 2}},     {{33, 9}, {101, 17}},
                             {{101, 17}, {33, 9}}, {{64, 48}, {17, 13}}, {{5, 3}, {5, 7}}};
    for (const PixelFormat format :
         {PixelFormat::Yuva32, PixelFormat::Bgra32, PixelFormat::Yuy2, PixelFormat::Bgr24}) {
        for (const auto& pair : pairs) {
            const Size from = pair[0];
            const Size to = pair[1];
            const TestImage src(rowBytes(format, static_cast<std::uint32_t>(from.width)),
                                from.height, true, rng);
            const TestImage dst(rowBytes(format, static_cast<std::uint32_t>(to.width)), to.height,
                                false, rng);
            TestImage reference(dst);
            ASSERT_EQ(detail::copyImage(detail::kernelsFor(CodePath::Plain),
                                        reference.buffer(format, to.width, to.height),
                                        src.buffer(format, from.width, from.height)),
                      PixelStatus::Ok);
            for (CodePath path : test::availablePaths()) {
                TestImage out(dst);
                ASSERT_EQ(detail::copyImage(detail::kernelsFor(path),
                                            out.buffer(format, to.width, to.height),
                                            src.buffer(format, from.width, from.height)),
                          PixelStatus::Ok);
                ASSERT_EQ(out.memory, reference.memory)
                    << "format " << static_cast<int>(format) << " " << from.width << "x"
                    << from.height << " to " << to.width << "x" << to.height << " on "
                    << test::pathName(path);
            }
        }
    }
}

TEST(PixelRoutines, BlurPassesAgreeOnEveryPath) {
    std::mt19937 rng(5);
    std::vector<std::vector<std::uint8_t>> kernels;
    for (const double radius : {0.3, 1.7, 2.0, 9.5, 36.0, 150.0}) {
        kernels.push_back(BlurFilter::kernelFor(radius));
    }
    // Weights that rise, fall and vanish again still total 256.
    kernels.push_back({40, 3, 50, 0, 55});
    for (const std::vector<std::uint8_t>& w : kernels) {
        const std::size_t taps = w.size();
        const int m = static_cast<int>(w.size()) - 1;
        // Lines shorter and longer than the kernel, strips and bands of rows whole and cut short.
        for (const Size s : {Size{1, 1}, Size{7, 5}, Size{33, 9}, Size{101, 83}, Size{16, 32},
                             Size{3, 70}, Size{70, 3}, Size{1, 40}, Size{47, 17}}) {
            const TestImage src(static_cast<std::size_t>(s.width) * 4, s.height, true, rng);
            const TestImage dst(static_cast<std::size_t>(s.width) * 4, s.height, false, rng);
            for (const bool keepAlpha : {false, true}) {
                for (const bool rows : {true, false}) {
                    TestImage reference(dst);
                    const auto run = [&](CodePath path, TestImage& out) {
                        const detail::KernelSet& k = detail::kernelsFor(path);
                        (rows ? k.blurRows : k.blurColumns)(s.width, s.height, out.top, out.pitch,
                                                            src.top, src.pitch, w.data(), m,
                                                            keepAlpha);
                    };
                    run(CodePath::Plain, reference);
                    for (CodePath path : test::availablePaths()) {
                        TestImage out(dst);
                        run(path, out);
                        ASSERT_EQ(out.memory, reference.memory)
                            << "kernel of " << taps << " weights, " << s.width << "x" << s.height
                            << (rows ? " rows" : " columns") << " on " << test::pathName(path);
                    }
                }
            }
        }
    }
}

// The definition written out directly: every destination pixel is the covered-area-weighted sum
// of the source pixels divided by the source area, truncated.
std::vector<std::uint8_t> bruteForceResample(const TestImage& src, int channels, Size from,
                                             Size to) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(to.width * to.height * channels));
    const auto overlap = [](std::int64_t i, std::int64_t unit, std::int64_t lo, std::int64_t hi) {
        const std::int64_t a = std::max(i * unit, lo);
        const std::int64_t b = std::min((i + 1) * unit, hi);
        return b > a ? b - a : 0;
    };
    for (int y = 0; y < to.height; ++y) {
        for (int x = 0; x < to.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                std::uint64_t sum = 0;
                for (int j = 0; j < from.height; ++j) {
                    const std::int64_t oy = overlap(j, to.height, std::int64_t{y} * from.height,
                                                    std::int64_t{y + 1} * from.height);
                    if (oy == 0) {
                        continue;
                    }
                    for (int i = 0; i < from.width; ++i) {
                        const std::int64_t ox = overlap(i, to.width, std::int64_t{x} * from.width,
                                                        std::int64_t{x + 1} * from.width);
                        sum += static_cast<std::uint64_t>(ox * oy) *
                               src.top[j * src.pitch + i * channels + c];
                    }
                }
                out[static_cast<std::size_t>((y * to.width + x) * channels + c)] =
                    static_cast<std::uint8_t>(sum / (std::uint64_t(from.width) * from.height));
            }
        }
    }
    return out;
}

TEST(PixelRoutines, ResamplingIsExactAreaAveraging) {
    std::mt19937 rng(6);
    // The last pair has source × destination width above 2^23.
    const Size pairs[][2] = {
        {{9, 7}, {4, 3}}, {{4, 3}, {9, 7}}, {{13, 11}, {13, 5}}, {{5000, 2}, {3001, 3}}};
    for (const PixelFormat format : {PixelFormat::Bgra32, PixelFormat::Bgr24}) {
        const int channels = bpp(format);
        for (const auto& pair : pairs) {
            const Size from = pair[0];
            const Size to = pair[1];
            const TestImage src(static_cast<std::size_t>(from.width * channels), from.height, true,
                                rng);
            TestImage dst(static_cast<std::size_t>(to.width * channels), to.height, false, rng);
            const auto expected = bruteForceResample(src, channels, from, to);
            for (CodePath path : test::availablePaths()) {
                ASSERT_EQ(detail::copyImage(detail::kernelsFor(path),
                                            dst.buffer(format, to.width, to.height),
                                            src.buffer(format, from.width, from.height)),
                          PixelStatus::Ok);
                for (int y = 0; y < to.height; ++y) {
                    const std::uint8_t* row = dst.top + y * dst.pitch;
                    ASSERT_TRUE(std::equal(row, row + to.width * channels,
                                           expected.begin() + y * to.width * channels))
                        << from.width << "x" << from.height << " row " << y << " on "
                        << test::pathName(path);
                }
            }
        }
    }
}

// The colour formulas written out once more, for the conversions' golden values.
int luma(int r, int g, int b) {
    return (627072 * r + 1230976 * g + 239104 * b + (1 << 20)) >> 21;
}
int cb(int r, int g, int b) {
    return (1072512 * b - 710528 * g - 361984 * r + (1 << 20)) >> 21;
}
int cr(int r, int g, int b) {
    return (1072640 * r - 898176 * g - 174464 * b + (1 << 20)) >> 21;
}

TEST(PixelRoutines, ConversionsFollowTheFixedPointFormulas) {
    const RoutineTable& t = detail::kernelsFor(CodePath::Plain).routines;
    // Three Bgra32 pixels: an odd last pixel ends the Yuy2 row with Y, Cb, 0, Cr.
    const std::uint8_t bgra[12] = {30, 200, 90, 7, 250, 10, 128, 9, 0, 0, 255, 11};
    std::uint8_t yuy2[8] = {};
    t.bgra32ToYuy2(3, 1, yuy2, 0, bgra, 0);
    const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
    EXPECT_EQ(yuy2[0], luma(90, 200, 30));
    EXPECT_EQ(yuy2[1], clamp(((cb(90, 200, 30) + cb(128, 10, 250)) >> 1) + 128));
    EXPECT_EQ(yuy2[2], luma(128, 10, 250));
    EXPECT_EQ(yuy2[3], clamp(((cr(90, 200, 30) + cr(128, 10, 250)) >> 1) + 128));
    EXPECT_EQ(yuy2[4], luma(255, 0, 0));
    EXPECT_EQ(yuy2[5], clamp(cb(255, 0, 0) + 128));
    EXPECT_EQ(yuy2[6], 0);
    EXPECT_EQ(yuy2[7], clamp(cr(255, 0, 0) + 128));

    std::uint8_t yuva[12] = {};
    t.bgra32ToYuva32(3, 1, yuva, 0, bgra, 0);
    EXPECT_EQ(yuva[4], luma(128, 10, 250));
    EXPECT_EQ(yuva[5], clamp(cb(128, 10, 250) + 128));
    EXPECT_EQ(yuva[6], clamp(cr(128, 10, 250) + 128));
    EXPECT_EQ(yuva[7], 9);

    // Back to RGB: Y 100, Cb 50, Cr 220 (Cb' = -78, Cr' = 92).
    const std::uint8_t in[4] = {100, 50, 220, 77};
    std::uint8_t back[4] = {};
    t.yuva32ToBgra32(1, 1, back, 0, in, 0);
    const int y21 = 100 << 21;
    EXPECT_EQ(back[0], clamp((y21 + 3633152 * -78 + (1 << 20)) >> 21));
    EXPECT_EQ(back[1], clamp((y21 - 705536 * -78 - 1464192 * 92 + (1 << 20)) >> 21));
    EXPECT_EQ(back[2], clamp((y21 + 2874624 * 92 + (1 << 20)) >> 21));
    EXPECT_EQ(back[3], 77);

    // Yuy2 to Yuva32 shares the pair's chroma; Yuva32 back to Yuy2 averages it.
    const std::uint8_t pair[8] = {10, 20, 30, 40, 50, 60, 70, 80};
    std::uint8_t wide[12] = {};
    t.yuy2ToYuva32(3, 1, wide, 0, pair, 0);
    const std::uint8_t expectedWide[12] = {10, 20, 40, 255, 30, 20, 40, 255, 50, 60, 80, 255};
    EXPECT_TRUE(std::equal(wide, wide + 12, expectedWide));
    const std::uint8_t four[12] = {1, 10, 21, 0, 2, 13, 30, 0, 3, 7, 9, 0};
    std::uint8_t packed[8] = {};
    t.yuva32ToYuy2(3, 1, packed, 0, four, 0);
    const std::uint8_t expectedPacked[8] = {1, 11, 2, 25, 3, 7, 3, 9};
    EXPECT_TRUE(std::equal(packed, packed + 8, expectedPacked));
}

TEST(PixelRoutines, ExactRoundTrips) {
    std::mt19937 rng(7);
    const int width = 37;
    const int height = 3;
    for (CodePath path : test::availablePaths()) {
        const RoutineTable& t = detail::kernelsFor(path).routines;
        // Bgr24 -> Bgra32 -> Bgr24 and Yuy2 -> Yuva32 -> Yuy2 (whole pairs) lose nothing.
        const TestImage bgr(width * 3, height, true, rng);
        TestImage bgra(width * 4, height, false, rng);
        TestImage bgrBack(width * 3, height, false, rng);
        t.bgr24ToBgra32(width, height, bgra.top, bgra.pitch, bgr.top, bgr.pitch);
        t.bgra32ToBgr24(width, height, bgrBack.top, bgrBack.pitch, bgra.top, bgra.pitch);
        for (int y = 0; y < height; ++y) {
            EXPECT_TRUE(std::equal(bgr.top + y * bgr.pitch, bgr.top + y * bgr.pitch + width * 3,
                                   bgrBack.top + y * bgrBack.pitch));
        }
        const int even = width - 1;
        const TestImage yuy2(even * 2, height, false, rng);
        TestImage yuva(even * 4, height, true, rng);
        TestImage yuy2Back(even * 2, height, true, rng);
        t.yuy2ToYuva32(even, height, yuva.top, yuva.pitch, yuy2.top, yuy2.pitch);
        t.yuva32ToYuy2(even, height, yuy2Back.top, yuy2Back.pitch, yuva.top, yuva.pitch);
        for (int y = 0; y < height; ++y) {
            EXPECT_TRUE(std::equal(yuy2.top + y * yuy2.pitch, yuy2.top + y * yuy2.pitch + even * 2,
                                   yuy2Back.top + y * yuy2Back.pitch));
        }
        // Greys keep their level through Yuva32 and come back unchanged.
        for (int level = 0; level < 256; ++level) {
            const std::uint8_t grey[4] = {static_cast<std::uint8_t>(level),
                                          static_cast<std::uint8_t>(level),
                                          static_cast<std::uint8_t>(level), 200};
            std::uint8_t ycc[4] = {};
            std::uint8_t again[4] = {};
            t.bgra32ToYuva32(1, 1, ycc, 0, grey, 0);
            t.yuva32ToBgra32(1, 1, again, 0, ycc, 0);
            EXPECT_EQ(ycc[0], level);
            EXPECT_EQ(ycc[1], 128);
            EXPECT_TRUE(std::equal(grey, grey + 4, again)) << "level " << level;
        }
    }
}

}  // namespace
}  // namespace pm

namespace pm {
namespace {

// Averages of a uniform picture are whole numbers, where a division by reciprocal would slip
// one below without care.
TEST(PixelRoutines, ResamplingKeepsUniformValues) {
    const Size pairs[][2] = {
        {{7, 7}, {5, 2}}, {{107, 1}, {33, 1}}, {{100, 3}, {33, 2}}, {{49, 31}, {97, 5}}};
    for (CodePath path : test::availablePaths()) {
        for (const auto& pair : pairs) {
            std::mt19937 rng(8);
            const TestImage src(static_cast<std::size_t>(pair[0].width) * 4, pair[0].height, false,
                                rng);
            TestImage dst(static_cast<std::size_t>(pair[1].width) * 4, pair[1].height, false, rng);
            const ImageBuffer from = src.buffer(PixelFormat::Bgra32, pair[0].width, pair[0].height);
            const ImageBuffer to = dst.buffer(PixelFormat::Bgra32, pair[1].width, pair[1].height);
            for (std::uint32_t value = 0; value < 256; ++value) {
                ASSERT_EQ(detail::fillImage(detail::kernelsFor(path), from, value * 0x01010101u, 1),
                          PixelStatus::Ok);
                ASSERT_EQ(detail::copyImage(detail::kernelsFor(path), to, from), PixelStatus::Ok);
                for (int y = 0; y < pair[1].height; ++y) {
                    const std::uint8_t* row = to.row(static_cast<std::uint32_t>(y));
                    ASSERT_TRUE(std::all_of(row, row + pair[1].width * 4,
                                            [&](std::uint8_t b) { return b == value; }))
                        << value << " on " << test::pathName(path);
                }
            }
        }
    }
}

}  // namespace
}  // namespace pm
