#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "core/ChangeHub.h"
#include "core/KeyframeRandom.h"
#include "core/SceneMotion.h"
#include "core/StandaloneMotionContext.h"

namespace pm {
namespace {

// Records every notification and checks that batches nest and close.
class RecordingHub : public ChangeHub {
public:
    std::vector<std::pair<std::uint32_t, ChangeArgument>> seen;
    int depth = 0;
    int batches = 0;

    std::int32_t notify(std::uint32_t code, ChangeArgument argument) override {
        seen.emplace_back(code, argument);
        return 0;
    }
    void beginBatch(bool) override {
        ++depth;
        ++batches;
    }
    void endBatch(bool) override { --depth; }
    bool saw(std::uint32_t code, ChangeArgument argument) const {
        for (const auto& [c, a] : seen) {
            if (c == code && a == argument) {
                return true;
            }
        }
        return false;
    }
};

KeyframeDesc valueKey(float value) {
    KeyframeDesc d;
    d.value = value;
    d.mask = KF_VALUE;
    return d;
}

// Parameters that have a key at time t.
std::vector<int> keyedAt(const SceneMotion& scene, float t) {
    std::vector<int> keyed;
    for (int p = 0; p < kParameterCount; ++p) {
        float distance = 1.0f;
        int index = 0;
        if (scene.keyCount(p) > 0 && scene.nearestKey(p, t, distance, index) && distance == 0.0f) {
            keyed.push_back(p);
        }
    }
    return keyed;
}

class SceneMotionTest : public ::testing::Test {
protected:
    RecordingHub hub;
    StandaloneMotionContext context{hub};
    SceneMotion scene{context};
};

TEST_F(SceneMotionTest, NewKeysFollowTheGroupLocks) {
    struct Case {
        const char* what;
        int unlock;  // group to unlock first, -1 for none
        int lock;    // group to lock first, -1 for none
        int parameter;
        std::vector<int> keyed;
    };
    const Case cases[] = {
        {"position pairs X and Y", -1, -1, PosX, {PosX, PosY}},
        {"Z angle keys the whole camera", -1, -1, Angle, {CamAngleA, CamAngleB, Angle, CamDist}},
        {"blur stands alone", -1, -1, Blur, {Blur}},
        {"unlocked position", GroupPosition, -1, PosX, {PosX}},
        {"All locked keys everything", -1, GroupAll, Blur, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    for (const Case& c : cases) {
        StandaloneMotionContext ctx;
        if (c.unlock >= 0) {
            ctx.tables().setLocked(c.unlock, false);
        }
        if (c.lock >= 0) {
            ctx.tables().setLocked(c.lock, true);
        }
        SceneMotion s(ctx);
        EXPECT_EQ(s.setKeyAtTime(c.parameter, 0.4f, valueKey(s.track(c.parameter).maximum())), 2)
            << c.what;
        EXPECT_EQ(keyedAt(s, 0.4f), c.keyed) << c.what;
    }
}

TEST_F(SceneMotionTest, CompanionKeysHoldTheCurrentValue) {
    ASSERT_EQ(scene.setKeyAtTime(PosY, 0.0f, valueKey(0.0f)), 2);
    ASSERT_EQ(scene.setKeyAtTime(PosY, 1.0f, valueKey(1.0f)), 2);
    const float before = scene.evaluate(PosY, 0.3f);
    ASSERT_EQ(scene.setKeyAtTime(PosX, 0.3f, valueKey(0.9f)), 2);
    ASSERT_EQ(scene.keyCount(PosY), 3);
    EXPECT_NEAR(scene.evaluate(PosY, 0.3f), before, 1e-6);
    EXPECT_NEAR(scene.evaluate(PosX, 0.3f), 0.9f, 1e-6);
    EXPECT_TRUE(hub.saw(kChangeKeys, 1 << PosY));
    EXPECT_TRUE(hub.saw(kChangeKeyValues, 1 << PosX));
}

TEST_F(SceneMotionTest, SetKeyNearAnExistingKeyModifiesIt) {
    ASSERT_EQ(scene.setKeyAtTime(PosX, 0.3f, valueKey(0.1f)), 2);
    ASSERT_EQ(scene.setKeyAtTime(PosY, 0.3f, valueKey(0.2f)), 1);
    EXPECT_EQ(scene.setKeyAtTime(PosX, 0.3f + 5e-7f, valueKey(0.7f)), 1);
    EXPECT_EQ(scene.keyCount(PosX), 1);
    EXPECT_EQ(scene.keyCount(PosY), 1);
    EXPECT_NEAR(scene.evaluate(PosX, 0.3f), 0.7f, 1e-6);
    EXPECT_NEAR(scene.evaluate(PosY, 0.3f), 0.2f, 1e-6);
}

TEST_F(SceneMotionTest, NotificationsNameWhatChangedAndBatchesAlwaysClose) {
    struct Case {
        std::uint32_t mask;
        std::uint32_t code;
    };
    const Case cases[] = {{KF_VALUE, kChangeKeyValues},
                          {KF_TANGENT, kChangeKeyTangents},
                          {KF_MODE, kChangeKeyModes},
                          {KF_VALUE | KF_MODE, kChangeKeys},
                          {0, kChangeKeys}};
    ASSERT_EQ(scene.setKeyAtTime(Blur, 0.5f, valueKey(1.0f)), 2);
    for (const Case& c : cases) {
        hub.seen.clear();
        KeyframeDesc d = valueKey(2.0f);
        d.time = 0.5f;
        d.mask = c.mask;
        ASSERT_EQ(scene.setKeyAtTime(Blur, 0.5f, d), 1);
        ASSERT_EQ(hub.seen.size(), 1u);
        EXPECT_EQ(hub.seen[0].first, c.code) << std::hex << c.mask;
        EXPECT_EQ(hub.seen[0].second, 1 << Blur);
    }
    // Failures announce nothing and leave no batch open.
    hub.seen.clear();
    EXPECT_EQ(scene.setKeyAtTime(Blur, 0.6f, valueKey(101.0f)), 0);
    EXPECT_EQ(scene.setKeyAtTime(Blur, -0.1f, valueKey(1.0f)), 0);
    EXPECT_EQ(scene.setKeyAtTime(12, 0.5f, valueKey(1.0f)), 0);
    EXPECT_TRUE(hub.seen.empty());
    EXPECT_EQ(hub.depth, 0);
    EXPECT_GT(hub.batches, 0);
}

TEST_F(SceneMotionTest, DeletingAKeyClearsTheUserTangentBeforeIt) {
    ASSERT_EQ(scene.setKeyAtTime(Blur, 0.0f, valueKey(0.0f)), 2);
    KeyframeDesc user = valueKey(50.0f);
    user.time = 0.5f;
    user.slope = 3.0f;
    user.inLength = 2.0f;
    user.outLength = 2.0f;
    user.userDefined = 1;
    user.mask = KF_VALUE | KF_TIME | KF_TANGENT;
    ASSERT_EQ(scene.setKeyAtTime(Blur, 0.5f, user), 2);
    ASSERT_EQ(scene.setKeyAtTime(Blur, 1.0f, valueKey(100.0f)), 2);

    EXPECT_TRUE(scene.deleteKey(Blur, 2));
    KeyframeDesc out;
    ASSERT_TRUE(scene.getKey(Blur, 1, out));
    EXPECT_EQ(out.userDefined, 0);
    EXPECT_EQ(out.slope, 0.0f);  // now the last key
    EXPECT_TRUE(hub.saw(kChangeKeys, 1 << Blur));
    EXPECT_FALSE(scene.deleteKey(Blur, 5));
    EXPECT_FALSE(scene.deleteKey(-1, 0));

    scene.deleteAllKeys();
    for (int p = 0; p < kParameterCount; ++p) {
        EXPECT_EQ(scene.keyCount(p), 0);
    }
}

TEST_F(SceneMotionTest, CropToCursorKeepsAbsoluteTimes) {
    scene.setLength(270'000'000);  // 10 s
    for (float t : {0.0f, 0.25f, 0.5f}) {
        ASSERT_NE(scene.setKeyAtTime(Blur, t, valueKey(t * 10.0f)), 0);
    }
    ASSERT_TRUE(scene.setCursor(0.4f));
    EXPECT_FALSE(scene.keysEndBefore(0.4f));
    EXPECT_FALSE(scene.cropToCursor());  // a key lies after the cursor
    EXPECT_EQ(scene.length(), 270'000'000);

    ASSERT_TRUE(scene.setCursor(0.5f));
    ASSERT_TRUE(scene.cropToCursor());
    EXPECT_EQ(scene.length(), 135'000'000);
    EXPECT_EQ(scene.cursor(), 1.0f);
    const float expected[] = {0.0f, 0.5f, 1.0f};
    ASSERT_EQ(scene.keyCount(Blur), 3);
    for (int k = 0; k < 3; ++k) {
        KeyframeDesc out;
        ASSERT_TRUE(scene.getKey(Blur, k, out));
        EXPECT_FLOAT_EQ(out.time, expected[k]);
    }
    EXPECT_EQ(hub.depth, 0);
}

TEST_F(SceneMotionTest, InsertTimeKeepsEachHalfAnchoredToItsEnd) {
    scene.setLength(270'000'000);  // 10 s
    const float times[] = {0.2f, 0.4f, 0.6f, 0.9f};
    for (float t : times) {
        ASSERT_NE(scene.setKeyAtTime(Blur, t, valueKey(1.0f)), 0);
    }
    ASSERT_TRUE(scene.insertTime(270'000'000, 0.5f));  // 10 s more
    EXPECT_EQ(scene.length(), 540'000'000);
    // First half: same seconds from the start. Second half: same seconds to the end.
    const float expected[] = {0.1f, 0.2f, 0.8f, 0.95f};
    for (int k = 0; k < 4; ++k) {
        KeyframeDesc out;
        ASSERT_TRUE(scene.getKey(Blur, k, out));
        EXPECT_NEAR(out.time, expected[k], 1e-6) << "key " << k;
    }
    EXPECT_TRUE(hub.saw(kChangeKeys, 1 << Blur));
    EXPECT_FALSE(scene.insertTime(-27'000'000, 0.5f));
}

TEST_F(SceneMotionTest, CursorAndKeysEndBefore) {
    hub.seen.clear();
    EXPECT_FALSE(scene.setCursor(1.5f));
    EXPECT_TRUE(scene.setCursor(0.25f));
    EXPECT_TRUE(scene.setCursor(0.25f));  // no change, no notice
    ASSERT_EQ(hub.seen.size(), 1u);
    EXPECT_EQ(hub.seen[0].first, kChangeCursor);
    EXPECT_EQ(*reinterpret_cast<const float*>(hub.seen[0].second), 0.25f);

    EXPECT_TRUE(scene.keysEndBefore(0.5f));  // no keys at all
    EXPECT_FALSE(scene.keysEndBefore(0.0f));
    ASSERT_NE(scene.setKeyAtTime(OffX, 0.5f, valueKey(0.1f)), 0);
    EXPECT_TRUE(scene.keysEndBefore(0.5f));
    EXPECT_FALSE(scene.keysEndBefore(0.49f));
}

TEST_F(SceneMotionTest, RecalculatingThePathTouchesOnlyPositionTangents) {
    for (int p : {PosX, Blur}) {
        for (float t : {0.0f, 0.5f, 1.0f}) {
            ASSERT_NE(scene.setKeyAtTime(p, t, valueKey(t == 0.5f ? 0.6f : 0.0f + t)), 0);
        }
    }
    KeyframeDesc before;
    ASSERT_TRUE(scene.getKey(Blur, 1, before));
    context.tables().setPositionSmoothing(20.0);
    scene.setModified(false);
    scene.recalculatePositionPath();
    // New tangents are a change the undo history must keep.
    EXPECT_TRUE(scene.modified());
    KeyframeDesc x;
    KeyframeDesc blur;
    ASSERT_TRUE(scene.getKey(PosX, 1, x));
    ASSERT_TRUE(scene.getKey(Blur, 1, blur));
    EXPECT_FLOAT_EQ(x.inLength, 0.4f);  // 0 -> 0.6 -> 1 rises: 0.02 x 20
    EXPECT_EQ(blur.inLength, before.inLength);
    EXPECT_TRUE(hub.saw(kChangeKeyTangents, 255));
}

// A picture of the given size in a 4:3 frame 720 pixels wide, zoom as the camera defines it.
MotionGeometry geometryFor(double w, double h) {
    MotionGeometry g;
    g.imageWidth = w;
    g.imageHeight = h;
    g.vAspRatio = 1.3333;
    g.assumedWidth = 720.0;
    g.zoomAtUnitScale = g.assumedWidth * (w > h ? w / h : 1.0) / w;
    return g;
}

TEST_F(SceneMotionTest, DefaultKeyframesKindsZeroAndOne) {
    ASSERT_NE(scene.setKeyAtTime(Blur, 0.5f, valueKey(5.0f)), 0);
    ASSERT_TRUE(scene.applyDefaultKeyframes(SceneMotion::DefaultKeys::AtStartAndEnd));
    for (int p = 0; p < kParameterCount; ++p) {
        ASSERT_EQ(scene.keyCount(p), 2) << p;
        EXPECT_FLOAT_EQ(scene.evaluate(p, 0.5f), scene.track(p).defaultValue()) << p;
    }
    ASSERT_TRUE(scene.applyDefaultKeyframes(SceneMotion::DefaultKeys::AtStart));
    EXPECT_EQ(keyedAt(scene, 0.0f).size(), 10u);
    EXPECT_EQ(scene.keyCount(Scale), 1);
    EXPECT_FALSE(scene.applyDefaultKeyframes(static_cast<SceneMotion::DefaultKeys>(3)));
    EXPECT_EQ(hub.depth, 0);
}

TEST_F(SceneMotionTest, DefaultKeyframesKindTwoPicksMotionByShape) {
    constexpr unsigned kSeed = 1234;
    struct Case {
        const char* what;
        double w;
        double h;
    };
    const Case cases[] = {{"wide: pan across", 3000, 1000},
                          {"square-ish: zoom", 1024, 768},
                          {"tall: pan down or up", 768, 1600}};
    for (const Case& c : cases) {
        StandaloneMotionContext ctx;
        SceneMotion s(ctx);
        const MotionGeometry g = geometryFor(c.w, c.h);
        s.setMotionGeometry(g);
        ctx.keyframeRandom().seed(kSeed);
        ASSERT_TRUE(s.applyDefaultKeyframes(SceneMotion::DefaultKeys::SlightMotion)) << c.what;

        // Draw the same numbers again to know what the generator saw.
        KeyframeRandom r;
        r.seed(kSeed);
        const double q = g.vAspRatio / (c.w / c.h);
        const float x0 = s.evaluate(PosX, 0.0f);
        const float x1 = s.evaluate(PosX, 1.0f);
        const float y0 = s.evaluate(PosY, 0.0f);
        const float y1 = s.evaluate(PosY, 1.0f);
        if (q < 0.75) {
            const double dir = r.next() < 0.5 ? -1.0 : 1.0;
            const double ratio = c.w / c.h;
            const double e = (0.6 * r.next() + 0.2) * (ratio - g.vAspRatio) * (0.499 / ratio);
            EXPECT_NEAR(x0, 0.5 + e * dir, 1e-6) << c.what;
            EXPECT_NEAR(x1, 0.5 - e * dir, 1e-6) << c.what;
            EXPECT_FLOAT_EQ(y0, 0.5f);
            EXPECT_FLOAT_EQ(y1, 0.5f);
            // Height fills the frame: the display zoom of the scale is 720 / (1.3333 x 1000).
            EXPECT_NEAR(s.evaluate(Scale, 0.0f) * g.zoomAtUnitScale, 720.0 / (1.3333 * c.h), 1e-5);
        } else if (q < 1.3334) {
            const bool wholeFirst = r.next() < 0.5;
            const double f = 0.8 * r.next() + 0.2;
            const float whole = wholeFirst ? 0.0f : 1.0f;
            const float close = 1.0f - whole;
            EXPECT_FLOAT_EQ(s.evaluate(Scale, whole), static_cast<float>(c.h / c.w));
            EXPECT_FLOAT_EQ(s.evaluate(PosX, whole), 0.5f);
            EXPECT_NEAR(s.evaluate(Scale, close), c.h / c.w * (0.08 * f + 1.05), 1e-6);
            EXPECT_NEAR(s.evaluate(PosX, close), (0.06 - 0.12 * r.next()) * f + 0.5, 1e-6);
            EXPECT_NEAR(s.evaluate(PosY, close), (0.06 - 0.12 * r.next()) * f + 0.5, 1e-6);
            const double a = r.next();
            EXPECT_NEAR(s.evaluate(Angle, close), a > 0.5 ? a * f * 0.03 : 0.0, 1e-7);
            EXPECT_NEAR(s.evaluate(Angle, whole), 0.0f, 1e-7);
        } else {
            const double dir = r.next() < 0.5 ? -1.0 : 1.0;
            const double ratio = c.h / c.w;
            const double e = (0.6 * r.next() + 0.2) * (ratio - 1.0 / g.vAspRatio) * (0.499 / ratio);
            EXPECT_NEAR(y0, 0.5 + e * dir, 1e-6) << c.what;
            EXPECT_NEAR(y1, 0.5 - e * dir, 1e-6) << c.what;
            EXPECT_FLOAT_EQ(x0, 0.5f);
            EXPECT_FLOAT_EQ(x1, 0.5f);
            EXPECT_NEAR(s.evaluate(Scale, 0.0f) * g.zoomAtUnitScale, 720.0 / c.w, 1e-5);
        }
        // Every parameter keeps its key at the start.
        EXPECT_EQ(keyedAt(s, 0.0f).size(), 10u) << c.what;
    }
}

TEST_F(SceneMotionTest, ResetAndFullscreenKeys) {
    scene.setMotionGeometry(geometryFor(1600, 900));
    ASSERT_NE(scene.setKeyAtTime(CamDist, 0.0f, valueKey(40.0f)), 0);
    ASSERT_NE(scene.setKeyAtTime(Blur, 0.0f, valueKey(30.0f)), 0);
    ASSERT_TRUE(scene.setCursor(0.5f));
    EXPECT_EQ(scene.resetGroupAtCursor(GroupCamera), 2);
    EXPECT_EQ(scene.resetGroupAtCursor(GroupCamera), 1);  // the keys exist now
    EXPECT_EQ(scene.evaluate(CamDist, 0.5f), 80.0f);
    EXPECT_EQ(scene.resetGroupAtCursor(GroupScale), 2);
    EXPECT_NEAR(scene.evaluate(Scale, 0.5f) * geometryFor(1600, 900).zoomAtUnitScale, 1.0, 1e-5);
    EXPECT_EQ(scene.resetGroupAtCursor(9), 0);

    ASSERT_TRUE(scene.addFullscreenKeyframe(0.75f));
    EXPECT_FLOAT_EQ(scene.evaluate(Scale, 0.75f), 900.0f / 1600.0f);
    EXPECT_FLOAT_EQ(scene.evaluate(PosX, 0.75f), 0.5f);
    EXPECT_FLOAT_EQ(scene.evaluate(CamDist, 0.75f), 80.0f);  // perspective kept
    EXPECT_FLOAT_EQ(scene.evaluate(Blur, 0.75f), 30.0f);     // blur kept, no key
    EXPECT_EQ(scene.keyCount(Blur), 1);
    EXPECT_EQ(hub.depth, 0);
}

TEST_F(SceneMotionTest, InvalidParametersAreHarmless) {
    KeyframeDesc out;
    float distance = 0.0f;
    int index = 0;
    EXPECT_EQ(scene.keyCount(10), 0);
    EXPECT_EQ(scene.evaluate(-1, 0.5f), 0.0f);
    EXPECT_FALSE(scene.getKey(10, 0, out));
    EXPECT_FALSE(scene.nearestKey(10, 0.5f, distance, index));
    EXPECT_FALSE(scene.selectKey(10, 0));
    EXPECT_FALSE(scene.unselectKey(10, 0));
}

}  // namespace
}  // namespace pm
