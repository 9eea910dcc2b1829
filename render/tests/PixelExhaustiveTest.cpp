// The vector routines compute the colour formulas, mixes and divisions by other means than the
// plain definition (14-bit multiply-adds, high halves of 16-bit products, a corrected
// single-precision quotient); these tests run them over every input where that is feasible.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "render/RoutineTable.h"
#include "render/detail/KernelSet.h"
#include "render/tests/TestImages.h"

namespace pm {
namespace {

constexpr int kRowPixels = 4096;

// Runs one conversion over all 2^24 values of the first three bytes of a 32-bit source, a row of
// 4096 pixels at a time, and compares every path with the plain one.
void expectAllThreeByteValuesAgree(ConvertRoutine RoutineTable::*routine, int dstBytes,
                                   const char* name) {
    std::vector<std::uint8_t> src(kRowPixels * 4);
    std::vector<std::uint8_t> expected(kRowPixels * dstBytes);
    std::vector<std::uint8_t> actual(kRowPixels * dstBytes);
    for (std::uint32_t row = 0; row < (1u << 24) / kRowPixels; ++row) {
        for (std::uint32_t x = 0; x < kRowPixels; ++x) {
            const std::uint32_t value = row * kRowPixels + x;
            // The fourth byte varies too, so copied alpha is checked along the way.
            const std::uint32_t pixel = value | ((x * 37u + row) & 0xFF) << 24;
            std::memcpy(&src[x * 4], &pixel, 4);
        }
        (test::pathRoutines(CodePath::Plain).*routine)(kRowPixels, 1, expected.data(), 0,
                                                       src.data(), 0);
        for (CodePath path : test::availablePaths()) {
            (test::pathRoutines(path).*routine)(kRowPixels, 1, actual.data(), 0, src.data(), 0);
            ASSERT_EQ(actual, expected) << name << " row " << row << " on " << test::pathName(path);
        }
    }
}

TEST(PixelExhaustive, EveryRgbToYuva32) {
    expectAllThreeByteValuesAgree(&RoutineTable::bgra32ToYuva32, 4, "bgra32ToYuva32");
}

TEST(PixelExhaustive, EveryYuva32ToRgb) {
    expectAllThreeByteValuesAgree(&RoutineTable::yuva32ToBgra32, 4, "yuva32ToBgra32");
    expectAllThreeByteValuesAgree(&RoutineTable::yuva32ToBgr24, 3, "yuva32ToBgr24");
}

// Every Yuy2 group (Y0, Cb, Y1, Cr) is 2^32 values; every chroma pair with a sweep of lumas and
// random groups besides cover the shared chroma terms.
TEST(PixelExhaustive, Yuy2GroupsToRgb) {
    std::mt19937 rng(11);
    std::vector<std::uint8_t> src(kRowPixels * 2);
    std::vector<std::uint8_t> expected(kRowPixels * 4);
    std::vector<std::uint8_t> actual(kRowPixels * 4);
    for (std::uint32_t row = 0; row < 65536 * 2 / (kRowPixels / 2); ++row) {
        for (std::uint32_t g = 0; g < kRowPixels / 2; ++g) {
            const std::uint32_t chroma = (row * (kRowPixels / 2) + g) & 0xFFFF;
            const std::uint32_t luma = rng();
            const std::uint8_t group[4] = {static_cast<std::uint8_t>(luma), std::uint8_t(chroma),
                                           static_cast<std::uint8_t>(luma >> 8),
                                           static_cast<std::uint8_t>(chroma >> 8)};
            std::memcpy(&src[g * 4], group, 4);
        }
        for (const auto& [routine, bytes] : {std::pair{&RoutineTable::yuy2ToBgra32, 4},
                                             std::pair{&RoutineTable::yuy2ToBgr24, 3}}) {
            (test::pathRoutines(CodePath::Plain).*routine)(kRowPixels, 1, expected.data(), 0,
                                                           src.data(), 0);
            for (CodePath path : test::availablePaths()) {
                (test::pathRoutines(path).*routine)(kRowPixels, 1, actual.data(), 0, src.data(), 0);
                ASSERT_TRUE(std::equal(actual.begin(), actual.begin() + kRowPixels * bytes,
                                       expected.begin()))
                    << "row " << row << " on " << test::pathName(path);
            }
        }
    }
}

// Pairs of pixels for the Yuy2 chroma average: random colours, many of them at the extremes
// where the clamp and the floor of a negative sum matter.
TEST(PixelExhaustive, RgbPairsToYuy2) {
    std::mt19937 rng(12);
    std::vector<std::uint8_t> src(kRowPixels * 4);
    std::vector<std::uint8_t> src24(kRowPixels * 3 + 8);
    std::vector<std::uint8_t> expected(kRowPixels * 2);
    std::vector<std::uint8_t> actual(kRowPixels * 2);
    const std::uint8_t extremes[] = {0, 1, 2, 127, 128, 253, 254, 255};
    for (int row = 0; row < 512; ++row) {
        for (std::uint8_t& b : src) {
            b = (rng() & 1) != 0 ? extremes[rng() % 8] : static_cast<std::uint8_t>(rng());
        }
        for (int x = 0; x < kRowPixels; ++x) {
            std::memcpy(&src24[x * 3], &src[x * 4], 3);
        }
        for (const auto& [routine, data] : {std::pair{&RoutineTable::bgra32ToYuy2, src.data()},
                                            std::pair{&RoutineTable::bgr24ToYuy2, src24.data()}}) {
            (test::pathRoutines(CodePath::Plain).*routine)(kRowPixels, 1, expected.data(), 0, data,
                                                           0);
            for (CodePath path : test::availablePaths()) {
                (test::pathRoutines(path).*routine)(kRowPixels, 1, actual.data(), 0, data, 0);
                ASSERT_EQ(actual, expected) << "row " << row << " on " << test::pathName(path);
            }
        }
    }
}

// Every pair of bytes at every weight.
TEST(PixelExhaustive, MixEveryByteAndWeight) {
    std::vector<std::uint8_t> a(65536);
    std::vector<std::uint8_t> b(65536);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<std::uint8_t>(i);
        b[i] = static_cast<std::uint8_t>(i >> 8);
    }
    std::vector<std::uint8_t> expected(a.size());
    std::vector<std::uint8_t> actual(a.size());
    for (int weight = 0; weight <= 4096; ++weight) {
        test::pathRoutines(CodePath::Plain)
            .mix(a.size(), 1, expected.data(), 0, a.data(), 0, b.data(), 0, weight);
        for (CodePath path : test::availablePaths()) {
            test::pathRoutines(path).mix(a.size(), 1, actual.data(), 0, a.data(), 0, b.data(), 0,
                                         weight);
            ASSERT_EQ(actual, expected) << "weight " << weight << " on " << test::pathName(path);
        }
    }
}

// Every pair of alphas (the division's inputs) at a spread of weights, with random colours.
TEST(PixelExhaustive, AlphaMixAndCompositeEveryAlphaPair) {
    std::mt19937 rng(13);
    const int pixels = 65536;
    std::vector<std::uint8_t> a(pixels * 4);
    std::vector<std::uint8_t> b(pixels * 4);
    for (int i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            a[i * 4 + c] = static_cast<std::uint8_t>(rng());
            b[i * 4 + c] = static_cast<std::uint8_t>(rng());
        }
        a[i * 4 + 3] = static_cast<std::uint8_t>(i);
        b[i * 4 + 3] = static_cast<std::uint8_t>(i >> 8);
    }
    std::vector<std::uint8_t> expected(a.size());
    std::vector<std::uint8_t> actual(a.size());
    std::vector<int> weights = {0, 1, 2, 3, 4095, 4096};
    for (int w = 5; w < 4095; w += 61) {
        weights.push_back(w);
    }
    for (const int weight : weights) {
        test::pathRoutines(CodePath::Plain)
            .mixAlpha(pixels, 1, expected.data(), 0, a.data(), 0, b.data(), 0, weight);
        for (CodePath path : test::availablePaths()) {
            test::pathRoutines(path).mixAlpha(pixels, 1, actual.data(), 0, a.data(), 0, b.data(), 0,
                                              weight);
            ASSERT_EQ(actual, expected)
                << "mixAlpha weight " << weight << " on " << test::pathName(path);
        }
        expected = a;
        test::pathRoutines(CodePath::Plain)
            .composite(pixels, 1, expected.data(), 0, b.data(), 0, weight);
        for (CodePath path : test::availablePaths()) {
            actual = a;
            test::pathRoutines(path).composite(pixels, 1, actual.data(), 0, b.data(), 0, weight);
            ASSERT_EQ(actual, expected)
                << "composite weight " << weight << " on " << test::pathName(path);
        }
    }
}

}  // namespace
}  // namespace pm
