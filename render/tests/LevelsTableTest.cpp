#include <gtest/gtest.h>

#include <random>

#include "render/LevelsTable.h"
#include "render/PerfKit.h"

namespace pm {
namespace {

TEST(LevelsTable, CurvesFromThePreparationSettings) {
    struct Case {
        const char* name;
        void (*step)(LevelsTable&);
        std::vector<std::pair<int, int>> points;  // input -> output
    };
    const Case cases[] = {
        {"identity", [](LevelsTable&) {}, {{0, 0}, {77, 77}, {255, 255}}},
        {"contrast 100 maps 127..128 onto the full range",
         [](LevelsTable& t) { t.contrast(100); },
         {{0, 0}, {127, 0}, {128, 255}, {255, 255}}},
        {"contrast -50 narrows the output to 63..192",
         [](LevelsTable& t) { t.contrast(-50); },
         {{0, 63}, {255, 192}}},
        {"brightness -100 maps white to 128",
         [](LevelsTable& t) { t.brightness(-100); },
         {{0, 0}, {255, 128}}},
        {"brightness 50 lifts black to 63",
         [](LevelsTable& t) { t.brightness(50); },
         {{0, 63}, {255, 255}}},
        {"gamma 2 takes the square root",
         [](LevelsTable& t) { t.levels(2.0, 0, 255, 0, 255); },
         {{0, 0}, {64, 127}, {255, 255}}},
        {"reversed output",
         [](LevelsTable& t) { t.levels(1.0, 0, 255, 255, 0); },
         {{0, 255}, {255, 0}}},
        {"steps compose in order",
         [](LevelsTable& t) {
             t.brightness(-100);
             t.contrast(100);
         },
         {{255, 255}, {0, 0}, {254, 0}}},
    };
    for (const Case& c : cases) {
        LevelsTable table;
        c.step(table);
        for (const auto& [in, out] : c.points) {
            EXPECT_EQ(table.curve()[static_cast<std::size_t>(in)], out) << c.name << " at " << in;
        }
    }
}

TEST(LevelsTable, AutoLevelsStretchesTheOccupiedRange) {
    LevelsTable::Histogram h{};
    h[3] = 1;  // below the threshold: ignored
    h[20] = 50;
    h[100] = 1000;
    h[180] = 15;  // exactly trunc(1000 × 0.015)
    h[250] = 14;
    LevelsTable table;
    table.autoLevels(h, 0.015);
    EXPECT_EQ(table.curve()[20], 0);
    EXPECT_EQ(table.curve()[180], 255);
    EXPECT_EQ(table.curve()[100], static_cast<int>(80.0 / 160.0 * 255.0));
}

TEST(LevelsTable, ApplyMapsColoursAndKeepsAlpha) {
    ImageBuffer image;
    ASSERT_EQ(PerfKit::allocate(&image, PixelFormat::Bgra32, 2, 1), PixelStatus::Ok);
    const std::uint8_t pixels[8] = {10, 128, 255, 33, 127, 0, 200, 77};
    std::copy(pixels, pixels + 8, image.pixels);
    LevelsTable table;
    table.contrast(100);
    ASSERT_EQ(table.apply(image, image), PixelStatus::Ok);
    const std::uint8_t expected[8] = {0, 255, 255, 33, 0, 0, 255, 77};
    EXPECT_TRUE(std::equal(expected, expected + 8, image.pixels));

    ImageBuffer yuy2;
    ASSERT_EQ(PerfKit::allocate(&yuy2, PixelFormat::Yuy2, 2, 1), PixelStatus::Ok);
    EXPECT_EQ(table.apply(yuy2, yuy2), PixelStatus::UnsupportedFormat);
    EXPECT_EQ(table.autoLevels(yuy2), PixelStatus::UnsupportedFormat);
}

// Rows of any width, in place or into another buffer, on every code path: each colour byte
// goes through the curve, alpha is copied.
TEST(LevelsTable, ApplyOnEveryCodePathMatchesTheCurve) {
    std::mt19937 rng(7);
    LevelsTable table;
    table.levels(1.7, 12, 240, 5, 250);
    for (const std::uint32_t level : {std::uint32_t{5}, std::uint32_t{2}, std::uint32_t{1}}) {
        PerfKit::initialise(level);
        for (const int width : {1, 7, 8, 9, 37}) {
            ImageBuffer source;
            ImageBuffer other;
            ASSERT_EQ(PerfKit::allocate(&source, PixelFormat::Bgra32, width, 3), PixelStatus::Ok);
            ASSERT_EQ(PerfKit::allocate(&other, PixelFormat::Bgra32, width, 3), PixelStatus::Ok);
            for (std::uint32_t y = 0; y < 3; ++y) {
                for (int i = 0; i < 4 * width; ++i) {
                    source.row(y)[i] = static_cast<std::uint8_t>(rng());
                }
            }
            ImageBuffer inPlace;
            ASSERT_EQ(PerfKit::allocate(&inPlace, PixelFormat::Bgra32, width, 3), PixelStatus::Ok);
            for (std::uint32_t y = 0; y < 3; ++y) {
                std::copy(source.row(y), source.row(y) + 4 * width, inPlace.row(y));
            }
            ASSERT_EQ(table.apply(other, source), PixelStatus::Ok);
            ASSERT_EQ(table.apply(inPlace, inPlace), PixelStatus::Ok);
            for (std::uint32_t y = 0; y < 3; ++y) {
                for (int i = 0; i < 4 * width; ++i) {
                    const std::uint8_t v = source.row(y)[i];
                    const std::uint8_t want = i % 4 == 3 ? v : table.curve()[v];
                    ASSERT_EQ(other.row(y)[i], want) << "level " << level << " width " << width;
                    ASSERT_EQ(inPlace.row(y)[i], want) << "level " << level << " width " << width;
                }
            }
        }
    }
    PerfKit::initialise(std::nullopt);
}

}  // namespace
}  // namespace pm
