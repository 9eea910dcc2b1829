#include <gtest/gtest.h>

#include "core/Timecode.h"
#include "core/VideoFormat.h"

namespace pm {
namespace {

TEST(Timecode, FrameRatesAreExactFractions) {
    struct Case {
        TickTime duration;
        std::uint64_t num, den;
    };
    const Case cases[] = {{270000, 100, 1},
                          {1080000, 25, 1},
                          {900900, 30000, 1001},
                          {900901, 27000000, 900901},
                          {0, 100, 1}};
    for (const Case& c : cases) {
        const FrameRate r = FrameRate::fromDuration(c.duration);
        EXPECT_EQ(r.numerator, c.num) << c.duration;
        EXPECT_EQ(r.denominator, c.den) << c.duration;
    }
}

TEST(Timecode, FormatsEveryKind) {
    struct Case {
        TickTime duration;
        int type;
        std::int64_t frame;
        const char* text;
    };
    const Case cases[] = {
        {270000, 0, 150, "00:00:01:50"},  // 1.5 s in hundredths
        {0, 0, 150, "00:00:01:50"},       // duration 0 reads as hundredths
        {1080000, 0, 25, "00:00:01:00"},
        {900901, 0, 1800, "00:01:00;02"},   // drop frame skips ;00 and ;01
        {900901, 0, 17982, "00:10:00;00"},  // but not on the tenth minute
        {900901, 0, 1799, "00:00:59;29"},
        {900901, 1, 1800, "00:01:00:00"},
        {900900, 2, 1800, "00:01:00;01"},    // real time at 29.97: 1800 frames = 60.06 s
        {900900, 0, 1800, "00:01:00;02"},    // exact 30000/1001 counts in drop frame too
        {1125000, 0, 30, "00:00:01:06"},     // 24 fps exactly: non-drop
        {1126125, 0, 24, "00:00:01;00"},     // 23.976: real time
        {900900, 3, 107892, "01:00:00;00"},  // one hour of drop frame
        {1080000, 0, 25 * 3723 + 7, "01:02:03:07"},
    };
    for (const Case& c : cases) {
        const TickTime ticks = c.frame * effectiveFrameDuration(c.duration);
        EXPECT_EQ(formatTimecode(ticks, c.duration, c.type), c.text)
            << c.duration << " type " << c.type << " frame " << c.frame;
    }
    EXPECT_EQ(formatTimecode(1000, 270000, 4), "");
    EXPECT_EQ(formatTimecode(-5, 270000, 0), "00:00:00:00");
}

TEST(Timecode, ParsesWhatItFormats) {
    const struct {
        TickTime duration;
        int type;
    } formats[] = {{270000, 0}, {1080000, 0}, {900901, 0}, {900901, 1},
                   {900900, 2}, {900900, 3},  {450000, 0}, {1125000, 1}};
    for (const auto& f : formats) {
        for (std::int64_t frame : {0, 1, 29, 30, 1799, 1800, 1801, 17982, 17983, 107892, 215999}) {
            const TickTime ticks = frame * f.duration;
            const std::string text = formatTimecode(ticks, f.duration, f.type);
            EXPECT_EQ(parseTimecode(text, f.duration, f.type), ticks)
                << text << " at " << f.duration << " type " << f.type;
        }
    }
}

TEST(Timecode, ParsesLooseText) {
    struct Case {
        const char* text;
        TickTime duration;
        int type;
        std::int64_t frame;
    };
    const Case cases[] = {
        {"1:00;02", 900901, 0, 1800},
        {"12", 900901, 0, 12},
        {" 2: 3", 1080000, 0, 53},
        {"1:00:00:00", 1080000, 0, 90000},
        {"", 1080000, 0, 0},
        {"-5", 1080000, 0, 0},
        {"99999999999999999999:00", 1080000, 0, 25'000'000'000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseTimecode(c.text, c.duration, c.type), c.frame * c.duration) << c.text;
    }
}

TEST(VideoFormat, PresetsMatchExactly) {
    EXPECT_STREQ(frameSizePresets()[matchFrameSize(1280, 720)].name, "HD 720");
    EXPECT_EQ(matchFrameSize(1280, 721), static_cast<int>(frameSizePresets().size()));
    EXPECT_STREQ(frameSizePresets()[matchFrameSize(1080, 1920)].name, "Vertical 1080");
    EXPECT_STREQ(pixelAspectPresets()[matchPixelAspect(1.2f)].name, "D1 NTSC 16:9");
    EXPECT_EQ(matchPixelAspect(1.25f), static_cast<int>(pixelAspectPresets().size()));
    EXPECT_STREQ(frameRatePresets()[matchFrameRate(900900)].name, "NTSC");
    EXPECT_EQ(matchFrameRate(900901), static_cast<int>(frameRatePresets().size()));
    EXPECT_EQ(normalizedFieldOrder(7), kUpperFieldFirst);
    EXPECT_EQ(normalizedFieldOrder(kFullFrame), kFullFrame);
    EXPECT_EQ(frameDurationForRate(29.97), 900901);
    EXPECT_EQ(frameDurationForRate(25.0), 1080000);
}

}  // namespace
}  // namespace pm
