#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/KeyframeTrack.h"

namespace pm {
namespace {

ParameterInfo range(float lo, float hi, float def, bool logarithmic = false) {
    ParameterInfo info;
    info.minimum = lo;
    info.maximum = hi;
    info.defaultValue = def;
    info.smoothing = 60.0f;
    info.logarithmic = logarithmic;
    return info;
}

KeyframeDesc key(float time, float value, InterpolationMode mode = InterpolationMode::Spline) {
    KeyframeDesc d;
    d.time = time;
    d.value = value;
    d.mode = mode;
    d.mask = KF_TIME | KF_VALUE | KF_MODE;
    return d;
}

class FixedEditor : public EditorContext {
public:
    InterpolationMode mode = InterpolationMode::Spline;
    TickTime length = 270'000'000;  // 10 s
    InterpolationMode defaultInterpolationMode() const override { return mode; }
    TickTime editorLength() const override { return length; }
};

TEST(KeyframeTrack, EmptyTrackGivesDefaultUnconverted) {
    const KeyframeTrack linear(range(0, 10, 3));
    const KeyframeTrack logarithmic(range(0, 45, 0.85f, true));
    for (float t : {-1.0f, 0.0f, 0.5f, 2.0f}) {
        EXPECT_EQ(linear.evaluate(t), 3.0f);
        EXPECT_EQ(logarithmic.evaluate(t), 0.85f);
    }
}

TEST(KeyframeTrack, EvaluatesEachModeAndHoldsOutsideTheKeys) {
    struct Case {
        InterpolationMode mode;
        float t;
        float expected;
    };
    // Keys (0.2, 0) and (0.6, 10). Two keys have flat tangents, so the spline's time curve is the
    // straight line and its value the smoothstep 3u^2 - 2u^3.
    const Case cases[] = {
        {InterpolationMode::Linear, 0.0f, 0.0f},         {InterpolationMode::Linear, 0.3f, 2.5f},
        {InterpolationMode::Linear, 0.9f, 10.0f},        {InterpolationMode::Spline, 0.3f, 1.5625f},
        {InterpolationMode::Spline, 0.4f, 5.0f},         {InterpolationMode::Spline, 2.0f, 10.0f},
        {InterpolationMode::Constant, 0.3f, 0.0f},       {InterpolationMode::Constant, 0.59f, 0.0f},
        {static_cast<InterpolationMode>(7), 0.3f, 2.5f},
    };
    for (const Case& c : cases) {
        KeyframeTrack track(range(-100, 100, 0));
        ASSERT_TRUE(track.add(key(0.2f, 0.0f, c.mode)));
        ASSERT_TRUE(track.add(key(0.6f, 10.0f, c.mode)));
        EXPECT_NEAR(track.evaluate(c.t), c.expected, 1e-4)
            << "mode " << static_cast<int>(c.mode) << " at " << c.t;
    }
}

TEST(KeyframeTrack, AddRejectsBadRecordsAndLeavesTrackUnchanged) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    KeyframeDesc noTime = key(0.5f, 1.0f);
    noTime.mask = KF_VALUE;
    const KeyframeDesc cases[] = {noTime,         key(-0.01f, 1.0f), key(1.01f, 1.0f),
                                  key(nan, 1.0f), key(0.5f, 10.5f),  key(0.5f, -0.5f),
                                  key(0.5f, nan), key(0.3f, 2.0f)};  // the last one duplicates
    KeyframeTrack track(range(0, 10, 0));
    ASSERT_TRUE(track.add(key(0.3f, 1.0f)));
    for (const KeyframeDesc& d : cases) {
        EXPECT_FALSE(track.add(d)) << "time " << d.time << " value " << d.value;
    }
    ASSERT_EQ(track.count(), 1);
    EXPECT_EQ(track.evaluate(0.9f), 1.0f);

    // Boundaries are inside.
    EXPECT_TRUE(track.add(key(0.0f, 0.0f)));
    EXPECT_TRUE(track.add(key(1.0f, 10.0f)));
}

TEST(KeyframeTrack, ModifyNeverReordersAndValidatesTheTimeField) {
    KeyframeTrack track(range(0, 10, 0));
    for (float t : {0.2f, 0.5f, 0.8f}) {
        ASSERT_TRUE(track.add(key(t, 1.0f)));
    }
    struct Case {
        int index;
        KeyframeDesc desc;
        bool ok;
    };
    KeyframeDesc valueOnlyBadTime = key(1.5f, 2.0f);
    valueOnlyBadTime.mask = KF_VALUE;
    KeyframeDesc valueOnly = key(0.0f, 2.0f);
    valueOnly.mask = KF_VALUE;
    const Case cases[] = {
        {1, key(0.2f, 1.0f), false},                                 // onto the previous key
        {1, key(0.9f, 1.0f), false},                                 // past the next key
        {1, key(0.8f, 1.0f), false},                                 // onto the next key
        {3, key(0.9f, 1.0f), false},                                 // no such key
        {-1, key(0.1f, 1.0f), false}, {1, key(0.6f, 11.0f), false},  // value out of range
        {1, valueOnlyBadTime, false},  // unused time field still checked
        {1, valueOnly, true},          // time 0 is fine when unused; key stays at 0.5
        {2, key(0.95f, 3.0f), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(track.modify(c.index, c.desc), c.ok) << "index " << c.index;
    }
    KeyframeDesc out;
    ASSERT_TRUE(track.get(1, out));
    EXPECT_EQ(out.time, 0.5f);
    EXPECT_EQ(out.value, 2.0f);
    ASSERT_TRUE(track.get(2, out));
    EXPECT_EQ(out.time, 0.95f);
}

TEST(KeyframeTrack, NewKeysTakeTheirModeFromTheSegmentOrTheEditor) {
    FixedEditor editor;
    editor.mode = InterpolationMode::Linear;
    KeyframeTrack track(range(0, 10, 0), &editor);
    ASSERT_TRUE(track.add(key(0.2f, 1.0f, InterpolationMode::Constant)));
    ASSERT_TRUE(track.add(key(0.8f, 2.0f, InterpolationMode::Spline)));
    KeyframeDesc noMode = key(0.5f, 3.0f);
    noMode.mask = KF_TIME | KF_VALUE;
    ASSERT_TRUE(track.add(noMode));  // splits the Constant segment
    noMode.time = 0.9f;
    ASSERT_TRUE(track.add(noMode));  // after the last key: the editor's mode
    noMode.time = 0.1f;
    ASSERT_TRUE(track.add(noMode));  // before the first key: the editor's mode

    const InterpolationMode expected[] = {InterpolationMode::Linear, InterpolationMode::Constant,
                                          InterpolationMode::Constant, InterpolationMode::Spline,
                                          InterpolationMode::Linear};
    for (int i = 0; i < track.count(); ++i) {
        KeyframeDesc out;
        ASSERT_TRUE(track.get(i, out));
        EXPECT_EQ(out.mode, expected[i]) << "key " << i;
    }
}

TEST(KeyframeTrack, AutomaticTangents) {
    struct Case {
        const char* what;
        float values[3];
        InterpolationMode firstMode;
        float slope;
        float length;
    };
    // Keys at 0, 0.5 and 1; smoothing 60. The middle key's tangent is checked.
    const Case cases[] = {
        {"rising: L = 0.02 S, slope = L (s1 + s2)(dt1 + dt2)",
         {0, 1, 3},
         InterpolationMode::Spline,
         1.2f * (2.0f + 4.0f),
         1.2f},
        {"peak: L = 0.01 S", {0, 1, 0}, InterpolationMode::Spline, 0.0f, 0.6f},
        {"flat side counts as extremum", {1, 1, 3}, InterpolationMode::Spline, 0.6f * 4.0f, 0.6f},
        {"after a Constant segment: flat", {0, 1, 3}, InterpolationMode::Constant, 0.0f, 1.0f},
    };
    for (const Case& c : cases) {
        KeyframeTrack track(range(-10, 10, 0));
        ASSERT_TRUE(track.add(key(0.0f, c.values[0], c.firstMode)));
        ASSERT_TRUE(track.add(key(0.5f, c.values[1])));
        ASSERT_TRUE(track.add(key(1.0f, c.values[2])));
        KeyframeDesc out;
        ASSERT_TRUE(track.get(1, out));
        EXPECT_NEAR(out.slope, c.slope, 1e-5) << c.what;
        EXPECT_FLOAT_EQ(out.inLength, c.length) << c.what;
        EXPECT_FLOAT_EQ(out.outLength, c.length) << c.what;
        for (int end : {0, 2}) {
            ASSERT_TRUE(track.get(end, out));
            EXPECT_EQ(out.slope, 0.0f) << c.what;
            EXPECT_EQ(out.inLength, 1.0f) << c.what;
        }
    }
}

TEST(KeyframeTrack, UserTangentsSurviveNeighbourChangesUntilCleared) {
    KeyframeTrack track(range(-10, 10, 0));
    ASSERT_TRUE(track.add(key(0.0f, 0.0f)));
    KeyframeDesc user = key(0.5f, 1.0f);
    user.slope = 0.25f;
    user.inLength = 2.0f;
    user.outLength = 3.0f;
    user.userDefined = 1;
    user.mask = 0;  // every field
    ASSERT_TRUE(track.add(user));
    ASSERT_TRUE(track.add(key(1.0f, 3.0f)));
    ASSERT_TRUE(track.add(key(0.75f, 5.0f)));
    KeyframeDesc out;
    ASSERT_TRUE(track.get(1, out));
    EXPECT_EQ(out.slope, 0.25f);
    EXPECT_EQ(out.outLength, 3.0f);

    ASSERT_TRUE(track.clearUserTangent(1));
    ASSERT_TRUE(track.get(1, out));
    EXPECT_EQ(out.userDefined, 0);
    EXPECT_FLOAT_EQ(out.inLength, 1.2f);  // 0 -> 1 -> 5 rises: L = 0.02 x 60
}

TEST(KeyframeTrack, LogarithmicTrackInterpolatesGeometrically) {
    KeyframeTrack track(range(0, 45, 0.85f, true));
    ASSERT_TRUE(track.add(key(0.0f, 1.0f, InterpolationMode::Linear)));
    ASSERT_TRUE(track.add(key(1.0f, 4.0f, InterpolationMode::Linear)));
    const double expected = std::exp2((std::log2(1.1) + std::log2(4.1)) / 2.0) - 0.1;
    EXPECT_NEAR(track.evaluate(0.5f), expected, 1e-5);
    EXPECT_NEAR(track.keys()[0].value, std::log2(1.1), 1e-6);  // stored as log2(v + 0.1)
    KeyframeDesc out;
    ASSERT_TRUE(track.get(1, out));
    EXPECT_NEAR(out.value, 4.0f, 1e-5);  // read back in user units
}

TEST(KeyframeTrack, OnlySplineResultsAreClamped) {
    // A steep user tangent at the first key overshoots the second key's value.
    const auto make = [](float maximum) {
        KeyframeTrack track(range(0, maximum, 0));
        KeyframeDesc first = key(0.0f, 0.9f);
        first.slope = 5.0f;
        first.inLength = 1.0f;
        first.outLength = 1.0f;
        first.userDefined = 1;
        first.mask = 0;
        EXPECT_TRUE(track.add(first));
        EXPECT_TRUE(track.add(key(1.0f, 1.0f)));
        return track;
    };
    const KeyframeTrack wide = make(10.0f);
    const KeyframeTrack tight = make(1.0f);
    ASSERT_GT(wide.evaluate(0.5f), 1.0f);
    EXPECT_EQ(tight.evaluate(0.5f), 1.0f);
}

TEST(KeyframeTrack, ConstantSwitchesJustBeforeTheNextKey) {
    FixedEditor editor;  // 10 s: the look-ahead is 0.99 / 999 of the scene
    KeyframeTrack track(range(0, 10, 0), &editor);
    ASSERT_TRUE(track.add(key(0.0f, 1.0f, InterpolationMode::Constant)));
    ASSERT_TRUE(track.add(key(0.5f, 2.0f, InterpolationMode::Constant)));
    ASSERT_TRUE(track.add(key(0.8f, 3.0f, InterpolationMode::Constant)));
    struct Case {
        float t;
        float expected;
    };
    const Case cases[] = {{0.0f, 1.0f},  {0.4985f, 1.0f}, {0.4995f, 2.0f},
                          {0.79f, 2.0f}, {0.7995f, 3.0f}, {1.0f, 3.0f}};
    for (const Case& c : cases) {
        EXPECT_EQ(track.evaluate(c.t), c.expected) << "t " << c.t;
    }
    // A one-second scene looks ahead ten times as far in normalized time.
    editor.length = 27'000'000;
    EXPECT_EQ(track.evaluate(0.495f), 2.0f);
}

TEST(KeyframeTrack, NearestKey) {
    KeyframeTrack track(range(0, 10, 0));
    float distance = -1.0f;
    int index = -1;
    ASSERT_TRUE(track.nearest(0.5f, distance, index));
    EXPECT_EQ(distance, 999.0f);
    EXPECT_EQ(index, 0);

    ASSERT_TRUE(track.add(key(0.25f, 1.0f)));
    ASSERT_TRUE(track.add(key(0.75f, 1.0f)));
    struct Case {
        float t;
        int index;
        float distance;
    };
    const Case cases[] = {
        {0.125f, 0, 0.125f}, {0.375f, 0, 0.125f},
        {0.5f, 1, 0.25f},  // a tie goes to the later key
        {0.875f, 1, 0.125f}, {0.2500005f, 0, 0.0f},
        {0.75f, 1, 0.0f},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(track.nearest(c.t, distance, index));
        EXPECT_EQ(index, c.index) << "t " << c.t;
        EXPECT_NEAR(distance, c.distance, 1e-6) << "t " << c.t;
    }
    EXPECT_FALSE(track.nearest(1.5f, distance, index));
    EXPECT_FALSE(track.nearest(-0.1f, distance, index));
}

TEST(KeyframeTrack, DeleteRecomputesTheNeighbourhood) {
    KeyframeTrack track(range(-10, 10, 0));
    for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
        ASSERT_TRUE(track.add(key(t, t * 4.0f)));
    }
    EXPECT_FALSE(track.remove(4));
    ASSERT_TRUE(track.remove(3));
    // Key 2 is now the last key: flat, and the curve ends on its value.
    KeyframeDesc out;
    ASSERT_TRUE(track.get(2, out));
    EXPECT_EQ(out.slope, 0.0f);
    EXPECT_NEAR(track.evaluate(0.5f), 2.0f, 1e-4);
    EXPECT_EQ(track.evaluate(0.9f), 2.0f);
}

TEST(KeyframeTrack, Selection) {
    KeyframeTrack track(range(0, 10, 0));
    ASSERT_TRUE(track.add(key(0.2f, 1.0f)));
    ASSERT_TRUE(track.add(key(0.4f, 1.0f)));
    EXPECT_TRUE(track.select(1));
    EXPECT_FALSE(track.select(2));
    EXPECT_FALSE(track.isSelected(0));
    EXPECT_TRUE(track.isSelected(1));
    EXPECT_FALSE(track.isSelected(5));
    // A modify keeps the flag; an add never copies it.
    ASSERT_TRUE(track.modify(1, key(0.5f, 2.0f)));
    EXPECT_TRUE(track.isSelected(1));
    track.unselectAll();
    EXPECT_FALSE(track.isSelected(1));
}

}  // namespace
}  // namespace pm
