#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "render/PerfKit.h"
#include "render/detail/ImageOps.h"
#include "render/detail/Workers.h"
#include "render/tests/TestImages.h"

namespace pm {
namespace {

// Several callers at once (a frame and the frame rendered ahead), each with more pieces than
// there are kept threads: every piece runs exactly once, and each call returns only when all of
// its own pieces are done.
TEST(Workers, EveryPieceRunsOnceAndBeforeTheCallReturns) {
    constexpr int kCallers = 3;
    constexpr int kPieces = 7;
    constexpr int kRounds = 50;
    std::vector<std::atomic<int>> runs(kCallers * kPieces);
    std::atomic<int> incomplete{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c) {
        callers.emplace_back([&, c] {
            for (int round = 0; round < kRounds; ++round) {
                std::atomic<int> done{0};
                detail::Workers::run(kPieces, [&](int i) {
                    runs[static_cast<std::size_t>(c * kPieces + i)]++;
                    done++;
                });
                if (done != kPieces) {
                    incomplete++;
                }
            }
        });
    }
    for (std::thread& t : callers) {
        t.join();
    }
    EXPECT_EQ(incomplete, 0);
    for (const std::atomic<int>& n : runs) {
        EXPECT_EQ(n, kRounds);
    }
}

TEST(CpuOptions, OverrideCases) {
    const CpuDescription intel{4, 1, 8};
    struct Case {
        std::optional<std::uint32_t> value;
        CpuDescription detected;
        CpuDescription expected;
    };
    const Case cases[] = {
        {std::nullopt, intel, {4, 1, 8}},  // missing value: no override
        {0u, intel, {4, 1, 8}},            // zero bytes keep what was detected
        {1u, intel, {0, 1, 8}},            // byte 0 = 1 forces the plain routines
        {512u, intel, {4, 1, 2}},          // byte 1 = 2 processors
        {7u, intel, {0, 1, 8}},            // level 6 is out of range and becomes 0
        {4u, intel, {3, 1, 8}},            // level 3
        {0x10000u, intel, {4, 0, 8}},      // vendor-neutral routines
        {0x10203u, intel, {2, 0, 2}},      // all three at once
        {5u, {2, 2, 1}, {2, 2, 1}},        // never above the processor's own level
        {0u, {-1, 0, 1}, {0, 0, 1}},       // no multimedia level at all
    };
    for (const Case& c : cases) {
        const CpuDescription d = CpuOptions::fromRegistryValue(c.value).applyTo(c.detected);
        EXPECT_EQ(d.level, c.expected.level) << c.value.value_or(99999);
        EXPECT_EQ(d.vendor, c.expected.vendor) << c.value.value_or(99999);
        EXPECT_EQ(d.processorCount, c.expected.processorCount) << c.value.value_or(99999);
    }
}

TEST(PerfKit, InitialiseAppliesTheRegistryValue) {
    const CpuDescription detected = PerfKit::detectProcessor();
    EXPECT_GE(detected.processorCount, 1);

    PerfKit::initialise(1u);
    EXPECT_EQ(PerfKit::level(), 0);
    EXPECT_EQ(PerfKit::codePath(), CodePath::Plain);
    EXPECT_EQ(&PerfKit::routines(), &detail::kernelsFor(CodePath::Plain).routines);

    PerfKit::initialise(512u);
    EXPECT_EQ(PerfKit::processorCount(), 2);
    EXPECT_EQ(PerfKit::level(), detected.level);

    PerfKit::initialise(7u);
    EXPECT_EQ(PerfKit::level(), 0);

    PerfKit::initialise(std::nullopt);
    EXPECT_EQ(PerfKit::level(), detected.level);
    EXPECT_EQ(PerfKit::processorCount(), detected.processorCount);
#if defined(__x86_64__)
    EXPECT_EQ(detected.level, 4);
    EXPECT_NE(PerfKit::codePath(), CodePath::Plain);
#endif
}

TEST(PerfKit, AllocationRoundsThePitchAndReportsBadRequests) {
    struct Case {
        PixelFormat format;
        int width;
        std::int32_t pitch;
        std::uint32_t bits;
    };
    const Case cases[] = {{PixelFormat::Bgra32, 3, 12, 32},
                          {PixelFormat::Bgr24, 3, 12, 24},
                          {PixelFormat::Bgr24, 5, 16, 24},
                          {PixelFormat::Yuy2, 3, 8, 16},
                          {PixelFormat::Yuva32, 1, 4, 32}};
    for (const Case& c : cases) {
        ImageBuffer b;
        ASSERT_EQ(PerfKit::allocate(&b, c.format, c.width, 2), PixelStatus::Ok);
        EXPECT_EQ(b.pitch, c.pitch);
        EXPECT_EQ(b.bitsPerPixel, c.bits);
        EXPECT_NE(b.pixels, nullptr);
        PerfKit::free(&b);
        EXPECT_EQ(b.pixels, nullptr);
    }
    ImageBuffer b;
    EXPECT_EQ(PerfKit::allocate(nullptr, PixelFormat::Bgra32, 4, 4), PixelStatus::MissingBuffer);
    EXPECT_EQ(PerfKit::allocate(&b, PixelFormat::Bgra32, 0, 4), PixelStatus::InvalidSize);
    EXPECT_EQ(PerfKit::allocate(&b, PixelFormat::Bgra32, 4, -1), PixelStatus::InvalidSize);
    EXPECT_EQ(PerfKit::allocate(&b, static_cast<PixelFormat>(4), 4, 4),
              PixelStatus::UnsupportedFormat);
    EXPECT_EQ(PerfKit::fill(b, 0, 1), PixelStatus::MissingBuffer);
}

std::vector<std::uint8_t> bytesOf(const ImageBuffer& b) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t y = 0; y < b.height; ++y) {
        out.insert(out.end(), b.row(y), b.row(y) + rowBytes(b.format, b.width));
    }
    return out;
}

TEST(PerfKit, FillConvertsTheColourToTheBufferLayout) {
    const std::uint32_t rgba = 10u | 20u << 8 | 30u << 16 | 40u << 24;  // R, G, B, A
    const std::uint32_t white = 0xFFFFFFFFu;
    struct Case {
        PixelFormat format;
        std::uint32_t colour;
        int kind;
        std::vector<std::uint8_t> pixel;  // the bytes repeated over each row
    };
    const Case cases[] = {
        {PixelFormat::Bgra32, rgba, 1, {30, 20, 10, 40}},
        {PixelFormat::Bgr24, rgba, 1, {30, 20, 10}},
        {PixelFormat::Yuy2, white, 1, {255, 128, 255, 128}},
        {PixelFormat::Yuva32, white, 1, {255, 128, 128, 255}},
        {PixelFormat::Yuva32, rgba, 2, {10, 20, 30, 40}},
        {PixelFormat::Yuy2, rgba, 2, {10, 20, 10, 30}},
        {PixelFormat::Bgra32, 0xFF808080u, 2, {128, 128, 128, 255}},
    };
    for (const Case& c : cases) {
        ImageBuffer b;
        ASSERT_EQ(PerfKit::allocate(&b, c.format, 3, 2), PixelStatus::Ok);
        ASSERT_EQ(PerfKit::fill(b, c.colour, c.kind), PixelStatus::Ok);
        std::vector<std::uint8_t> expected;
        const std::size_t repeats = rowBytes(c.format, 3) / c.pixel.size();
        for (std::size_t i = 0; i < repeats * 2; ++i) {
            expected.insert(expected.end(), c.pixel.begin(), c.pixel.end());
        }
        EXPECT_EQ(bytesOf(b), expected) << static_cast<int>(c.format) << " kind " << c.kind;
    }
    ImageBuffer b;
    ASSERT_EQ(PerfKit::allocate(&b, PixelFormat::Bgra32, 3, 2), PixelStatus::Ok);
    EXPECT_EQ(PerfKit::fill(b, 0, 0), PixelStatus::InvalidHandleOrColour);
    EXPECT_EQ(PerfKit::fill(b, 0, 3), PixelStatus::InvalidHandleOrColour);
}

ImageBuffer randomImage(PixelFormat format, int width, int height, std::mt19937& rng) {
    ImageBuffer b;
    EXPECT_EQ(PerfKit::allocate(&b, format, width, height), PixelStatus::Ok);
    for (std::uint32_t y = 0; y < b.height; ++y) {
        std::generate(b.row(y), b.row(y) + b.pitch,
                      [&] { return static_cast<std::uint8_t>(rng()); });
    }
    return b;
}

TEST(PerfKit, CopyFollowsBottomUpSources) {
    std::mt19937 rng(11);
    const ImageBuffer src = randomImage(PixelFormat::Bgra32, 5, 4, rng);
    // The same rows seen bottom-up: start at the last row, negative pitch.
    const ImageBuffer flipped =
        ImageBuffer::wrap(PixelFormat::Bgra32, 5, 4, -src.pitch, src.row(3));
    ImageBuffer dst;
    ASSERT_EQ(PerfKit::allocate(&dst, PixelFormat::Bgra32, 5, 4), PixelStatus::Ok);
    ASSERT_EQ(PerfKit::copy(dst, flipped), PixelStatus::Ok);
    for (std::uint32_t y = 0; y < 4; ++y) {
        EXPECT_TRUE(std::equal(dst.row(y), dst.row(y) + 20, src.row(3 - y)));
    }
}

TEST(PerfKit, CopyConvertsAtTheSmallerSize) {
    std::mt19937 rng(12);
    struct Case {
        PixelFormat from;
        int fw, fh;
        PixelFormat to;
        int tw, th;
    };
    const Case cases[] = {{PixelFormat::Bgra32, 41, 30, PixelFormat::Yuy2, 19, 15},
                          {PixelFormat::Bgr24, 9, 7, PixelFormat::Yuva32, 21, 13},
                          {PixelFormat::Yuy2, 12, 10, PixelFormat::Bgra32, 10, 12}};
    for (const Case& c : cases) {
        const ImageBuffer src = randomImage(c.from, c.fw, c.fh, rng);
        ImageBuffer dst;
        ImageBuffer step;
        ImageBuffer expected;
        ASSERT_EQ(PerfKit::allocate(&dst, c.to, c.tw, c.th), PixelStatus::Ok);
        ASSERT_EQ(PerfKit::allocate(&expected, c.to, c.tw, c.th), PixelStatus::Ok);
        ASSERT_EQ(PerfKit::copy(dst, src), PixelStatus::Ok);
        if (c.tw * c.th < c.fw * c.fh) {
            ASSERT_EQ(PerfKit::allocate(&step, c.from, c.tw, c.th), PixelStatus::Ok);
        } else {
            ASSERT_EQ(PerfKit::allocate(&step, c.to, c.fw, c.fh), PixelStatus::Ok);
        }
        ASSERT_EQ(PerfKit::copy(step, src), PixelStatus::Ok);
        ASSERT_EQ(PerfKit::copy(expected, step), PixelStatus::Ok);
        EXPECT_EQ(bytesOf(dst), bytesOf(expected));
    }
}

TEST(PerfKit, MixEdgeWeightsAndAlpha) {
    std::mt19937 rng(13);
    const ImageBuffer a = randomImage(PixelFormat::Bgra32, 7, 3, rng);
    const ImageBuffer b = randomImage(PixelFormat::Bgra32, 7, 3, rng);
    ImageBuffer out;
    ASSERT_EQ(PerfKit::allocate(&out, PixelFormat::Bgra32, 7, 3), PixelStatus::Ok);
    for (const bool alphaAware : {false, true}) {
        ASSERT_EQ(PerfKit::mix(out, a, b, 0, alphaAware), PixelStatus::Ok);
        if (!alphaAware) {
            EXPECT_EQ(bytesOf(out), bytesOf(a));
        }
        ASSERT_EQ(PerfKit::mix(out, a, b, 4096, false), PixelStatus::Ok);
        EXPECT_EQ(bytesOf(out), bytesOf(b));
    }
    EXPECT_EQ(PerfKit::mix(out, a, b, 4097, false), PixelStatus::InvalidHandleOrColour);
    const ImageBuffer yuy2 = randomImage(PixelFormat::Yuy2, 7, 3, rng);
    EXPECT_EQ(PerfKit::mix(yuy2, yuy2, yuy2, 100, true), PixelStatus::UnsupportedFormat);
    EXPECT_EQ(PerfKit::mix(out, a, yuy2, 100, false), PixelStatus::UnsupportedFormat);

    // Per-pixel cases: a, b, weight -> expected result (B, G, R, A).
    struct Case {
        std::array<std::uint8_t, 4> a, b;
        int weight;
        std::array<std::uint8_t, 4> expected;
    };
    const Case cases[] = {
        // Both opaque: the plain mix, opaque.
        {{200, 100, 0, 255}, {0, 100, 200, 255}, 1024, {150, 100, 50, 255}},
        // Both transparent: the plain mix with alpha 0.
        {{200, 100, 0, 0}, {0, 100, 200, 0}, 2048, {100, 100, 100, 0}},
        // b transparent: a's colour whatever the weight, alpha shrinks.
        {{200, 100, 0, 255}, {0, 0, 0, 0}, 2048, {200, 100, 0, 127}},
        // Truncated alpha would give a a share above one; it is capped at one.
        {{255, 40, 3, 2}, {0, 250, 9, 0}, 1, {255, 40, 3, 1}},
    };
    ImageBuffer pa, pb, po;
    for (ImageBuffer* p : {&pa, &pb, &po}) {
        ASSERT_EQ(PerfKit::allocate(p, PixelFormat::Bgra32, 1, 1), PixelStatus::Ok);
    }
    for (const Case& c : cases) {
        std::copy(c.a.begin(), c.a.end(), pa.pixels);
        std::copy(c.b.begin(), c.b.end(), pb.pixels);
        for (CodePath path : test::availablePaths()) {
            ASSERT_EQ(detail::mixImages(detail::kernelsFor(path), po, pa, pb, c.weight, true),
                      PixelStatus::Ok);
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), po.pixels))
                << int(po.pixels[0]) << "," << int(po.pixels[1]) << "," << int(po.pixels[2]) << ","
                << int(po.pixels[3]) << " on " << test::pathName(path);
        }
    }
}

TEST(PerfKit, CompositeAccumulatesAlpha) {
    struct Case {
        std::array<std::uint8_t, 4> destination, source;
        int weight;
        std::array<std::uint8_t, 4> expected;
    };
    const Case cases[] = {
        // Opaque source at full weight replaces the destination.
        {{1, 2, 3, 40}, {200, 150, 100, 255}, 4096, {200, 150, 100, 255}},
        // Weight 0 leaves it as it was.
        {{1, 2, 3, 40}, {200, 150, 100, 255}, 0, {1, 2, 3, 40}},
        // Nothing on either side: colour kept, alpha 0.
        {{9, 8, 7, 0}, {200, 150, 100, 0}, 4096, {9, 8, 7, 0}},
        // Half an opaque source over an opaque destination.
        {{0, 0, 0, 255}, {255, 255, 255, 255}, 2048, {127, 127, 127, 255}},
        // A faint source over nothing: its share is capped at one, so its colour shows.
        {{10, 20, 30, 0}, {200, 150, 100, 2}, 4095, {200, 150, 100, 1}},
    };
    ImageBuffer dst, src;
    ASSERT_EQ(PerfKit::allocate(&dst, PixelFormat::Bgra32, 1, 1), PixelStatus::Ok);
    ASSERT_EQ(PerfKit::allocate(&src, PixelFormat::Bgra32, 1, 1), PixelStatus::Ok);
    for (const Case& c : cases) {
        for (CodePath path : test::availablePaths()) {
            std::copy(c.destination.begin(), c.destination.end(), dst.pixels);
            std::copy(c.source.begin(), c.source.end(), src.pixels);
            ASSERT_EQ(detail::compositeImages(detail::kernelsFor(path), dst, src, c.weight),
                      PixelStatus::Ok);
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), dst.pixels))
                << int(dst.pixels[0]) << "," << int(dst.pixels[1]) << "," << int(dst.pixels[2])
                << "," << int(dst.pixels[3]) << " on " << test::pathName(path);
        }
    }
}

}  // namespace
}  // namespace pm
