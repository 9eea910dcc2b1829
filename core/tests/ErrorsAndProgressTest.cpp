#include <gtest/gtest.h>

#include <chrono>

#include "core/ErrorInfo.h"
#include "core/ProgressClock.h"
#include "core/ProgressReporter.h"
#include "core/StringTable.h"
#include "core/TextFormat.h"

namespace pm {
namespace {

TEST(ErrorInfo, KeepsTheFirstFailureAndTheFirstSeriousOne) {
    ErrorInfo errors;
    EXPECT_EQ(errors.report(0), 1);
    EXPECT_FALSE(errors.hasFailure());

    EXPECT_EQ(errors.report(6221, {textArg(200)}), 0);
    EXPECT_EQ(errors.report(6101 | ErrorInfo::kSerious), 0);
    EXPECT_EQ(errors.report(6206), 0);
    EXPECT_EQ(errors.code(), 6221u);
    EXPECT_EQ(errors.text(), "Maximum number of scenes exceeded (200)");
    EXPECT_EQ(errors.seriousCode(), 6101u | ErrorInfo::kSerious);
    EXPECT_EQ(errors.seriousText(), "Memory allocation failed.");

    errors.clear();
    errors.report(6109 | ErrorInfo::kSerious);
    errors.report(6206);
    EXPECT_EQ(errors.code(), 6109u | ErrorInfo::kSerious);
    EXPECT_EQ(errors.text(), "Could not initialize application");
}

TEST(ErrorInfo, Texts) {
    struct Case {
        std::uint32_t code;
        std::string extra;
        std::string text;
    };
    const Case cases[] = {
        {0x12345, "", "Unknown Error Value:    12345"},
        {6206, "disk full", "Could not save project file\n\ndisk full"},
        {530, "", "An error has occurred."},  // ids below 6100 read as 6100
        {6218 | ErrorInfo::kSerious, "", "Could not load sound file. \n()"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorInfo::textFor(c.code, {}, c.extra), c.text) << c.code;
    }
}

TEST(TextFormat, TypedArgumentsNeverReadPastTheList) {
    struct Case {
        const char* format;
        std::initializer_list<TextArg> args;
        const char* text;
    };
    const Case cases[] = {
        {"%i x %i", {textArg(640), textArg(480)}, "640 x 480"},
        {"%02i:%02i:%02i", {textArg(1), textArg(2), textArg(3)}, "01:02:03"},
        {"%s and %s", {textArg("one")}, "one and "},
        {"%8x|%-4d|%%|%5.2f",
         {textArg(255), textArg(7), textArg(3.14159)},
         "      ff|7   |%| 3.14"},
        {"%s", {textArg(12)}, "12"},
        {"100%", {}, "100%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatText(c.format, c.args), c.text) << c.format;
    }
    // Widths are capped at three digits, so a hostile text cannot ask for gigabytes.
    EXPECT_EQ(formatText("%999999999s", {textArg("x")}), std::string(998, ' ') + "x");
    EXPECT_EQ(strings::format(6210, {textArg(16), textArg(16), textArg(30000), textArg(30000)}),
              "Unsupported image size! The image must be larger than 16 x 16 and smaller than "
              "30000 x 30000.");
    EXPECT_EQ(strings::text(4006), "File Opened");
    EXPECT_EQ(strings::find(4013), nullptr);
}

TEST(ProgressReporter, NestedStepsCoverTheirShare) {
    ProgressReporter progress;
    progress.begin("Saving");
    ASSERT_TRUE(progress.beginStep(50, "outer"));
    ASSERT_TRUE(progress.beginStep(50));
    EXPECT_TRUE(progress.setFraction(50));
    EXPECT_DOUBLE_EQ(progress.position(), 0.125);
    EXPECT_DOUBLE_EQ(progress.remaining(), 50.0);
    EXPECT_TRUE(progress.endStep(true));
    EXPECT_DOUBLE_EQ(progress.position(), 0.25);  // a quarter of the whole
    EXPECT_TRUE(progress.endStep(true));
    EXPECT_DOUBLE_EQ(progress.position(), 0.5);
    EXPECT_EQ(progress.statusText(), "outer");

    EXPECT_FALSE(progress.beginStep(0));
    EXPECT_FALSE(progress.beginStep(-5));
    EXPECT_DOUBLE_EQ(progress.position(), 0.5);

    ASSERT_TRUE(progress.beginStep(50));
    progress.cancel();
    EXPECT_FALSE(progress.setFraction(10));
    EXPECT_FALSE(progress.endStep(true));
    progress.end();
    EXPECT_FALSE(progress.active());
}

TEST(ProgressReporter, AFailedStepCancels) {
    ProgressReporter progress;
    ASSERT_TRUE(progress.beginStep(100));  // begins by itself
    EXPECT_TRUE(progress.active());
    EXPECT_FALSE(progress.endStep(false));
    EXPECT_TRUE(progress.cancelled());
}

TEST(ProgressClock, SmoothsTheEstimate) {
    using namespace std::chrono;
    ProgressClock clock;
    const auto t0 = ProgressClock::Clock::time_point{};
    clock.update(0.0, t0);  // nothing before any progress
    EXPECT_FALSE(clock.started());
    clock.update(0.1, t0);
    clock.update(0.2, t0 + seconds(10));
    EXPECT_EQ(clock.elapsed(), 10);
    EXPECT_EQ(clock.estimated(), 50);  // first estimate is the raw one
    clock.update(0.5, t0 + seconds(20));
    // raw 40, d = 50: (40 + 50 x 50) / 51 = 49
    EXPECT_EQ(clock.estimated(), 49);
    EXPECT_EQ(clock.remaining(), 29);
}

}  // namespace
}  // namespace pm
