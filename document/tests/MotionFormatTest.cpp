#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "ProjectFixtures.h"
#include "core/SceneMotion.h"
#include "core/StandaloneMotionContext.h"
#include "document/MotionFormat.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

KeyframeDesc key(float value, float time, InterpolationMode mode, float slope = 0.0f,
                 float in = 1.0f, float out = 1.0f, int user = 0) {
    KeyframeDesc d;
    d.value = value;
    d.time = time;
    d.mode = mode;
    d.slope = slope;
    d.inLength = in;
    d.outLength = out;
    d.userDefined = user;
    d.mask = 0;
    return d;
}

class MotionFormatTest : public ::testing::Test {
protected:
    StandaloneMotionContext context;
    SceneMotion scene{context};
    MemoryStorage storage;
    StoreKeyPtr root;

    void SetUp() override {
        storage.open();
        root = storage.root();
        // Keys of one parameter must not bring keys of the others along.
        for (int g = 0; g < kGroupCount; ++g) {
            context.tables().setLocked(g, false);
        }
    }

    // The PosX track saved into a store of its own, as its root.
    StoreKeyPtr savedTrack(MemoryStorage& store) {
        store.open();
        StoreKeyPtr track = store.root();
        EXPECT_TRUE(saveTrack(*track, scene, PosX));
        return track;
    }

    void addKeys() {
        ASSERT_NE(scene.setKeyAtTime(PosX, 0.0f, key(0.25f, 0.0f, InterpolationMode::Linear)), 0);
        ASSERT_NE(scene.setKeyAtTime(
                      PosX, 0.4f, key(1.5f, 0.4f, InterpolationMode::Spline, 0.75f, 0.3f, 2.5f, 1)),
                  0);
        ASSERT_NE(scene.setKeyAtTime(PosX, 1.0f, key(-1.0f, 1.0f, InterpolationMode::Constant)), 0);
        // The logarithmic track stores log2(v + 0.1) and must give the user value back.
        ASSERT_NE(scene.setKeyAtTime(Scale, 0.1f, key(3.7f, 0.1f, InterpolationMode::Spline)), 0);
        ASSERT_NE(scene.setKeyAtTime(Blur, 0.9f, key(12.0f, 0.9f, InterpolationMode::Linear)), 0);
    }
};

TEST_F(MotionFormatTest, MotionComesBackWithValuesTimesTangentsAndModes) {
    addKeys();
    scene.selectKey(PosX, 1);
    ASSERT_TRUE(saveMotion(*root, scene));
    // Parameters are written in the order files have always had them.
    StoreKeyPtr motion = root->openChild("PzKeyframes");
    ASSERT_TRUE(motion);
    StoreKeyPtr posX = motion->openChild("PosX");
    ASSERT_TRUE(posX);
    EXPECT_EQ(posX->getInt("NbOfKF", -1), 3);
    StoreKeyPtr second = posX->openChild("0001");
    ASSERT_TRUE(second);
    EXPECT_DOUBLE_EQ(second->getDouble("PzKFrValue", 0), 1.5);
    EXPECT_EQ(second->getInt("PzKFrUserDefine", 0), 1);
    EXPECT_EQ(second->getInt("PzKFInterpolationMode", 0), 3);

    SceneMotion loaded(context);
    loaded.applyDefaultKeyframes(SceneMotion::DefaultKeys::AtStart);
    ASSERT_TRUE(loadMotion(*root, loaded));
    test::expectSameKeys(test::allKeys(scene), test::allKeys(loaded));
    for (float t : {0.05f, 0.3f, 0.55f, 0.97f}) {
        EXPECT_EQ(scene.evaluate(PosX, t), loaded.evaluate(PosX, t)) << t;
    }
}

TEST_F(MotionFormatTest, MissingMotionNodeFailsAndMissingTracksAreEmpty) {
    SceneMotion loaded(context);
    EXPECT_FALSE(loadMotion(*root, loaded));
    addKeys();
    ASSERT_TRUE(saveMotion(*root, scene));
    root->openChild("PzKeyframes")->deleteChild("Blur");
    ASSERT_TRUE(loadMotion(*root, loaded));
    EXPECT_EQ(loaded.keyCount(PosX), 3);
    EXPECT_EQ(loaded.keyCount(Blur), 0);
}

TEST_F(MotionFormatTest, TrackLoadStopsAtTheFirstBadKeyKeepingThoseBefore) {
    const std::function<void(StoreKey&)> spoil[] = {
        [](StoreKey& k) { k.deleteChild("0001"); },
        [](StoreKey& k) { k.openChild("0001")->setDouble("PzKFrTime", 1.5); },
        [](StoreKey& k) { k.openChild("0001")->setDouble("PzKFrTime", 0.0); },
        [](StoreKey& k) { k.openChild("0001")->setDouble("PzKFrValue", 99.0); },
        [](StoreKey& k) {
            k.openChild("0001")->setDouble("PzKFrSlope", std::numeric_limits<double>::quiet_NaN());
        },
        [](StoreKey& k) {
            k.openChild("0001")->setDouble("PzKFrTime", std::numeric_limits<double>::quiet_NaN());
        },
    };
    addKeys();
    for (std::size_t i = 0; i < std::size(spoil); ++i) {
        MemoryStorage fresh;
        StoreKeyPtr track = savedTrack(fresh);
        spoil[i](*track);
        SceneMotion loaded(context);
        EXPECT_FALSE(loadTrack(*track, loaded, PosX)) << i;
        EXPECT_EQ(loaded.keyCount(PosX), 1) << i;
    }
}

TEST_F(MotionFormatTest, UnknownOrMissingModesAreKeptAndEvaluatedAsLinear) {
    const std::function<void(StoreKey&)> spoil[] = {
        [](StoreKey& k) { k.setInt("PzKFInterpolationMode", 7); },
        [](StoreKey& k) { k.setInt("PzKFInterpolationMode", -1); },
        [](StoreKey& k) { k.deleteValue("PzKFInterpolationMode"); },
    };
    addKeys();
    // Key 1 starts the spline segment 0.4 .. 1.0 of PosX; as Linear it runs straight.
    for (std::size_t i = 0; i < std::size(spoil); ++i) {
        MemoryStorage fresh;
        StoreKeyPtr track = savedTrack(fresh);
        spoil[i](*track->openChild("0001"));
        const std::int32_t stored = track->openChild("0001")->getInt("PzKFInterpolationMode", 0);
        SceneMotion loaded(context);
        ASSERT_TRUE(loadTrack(*track, loaded, PosX)) << i;
        ASSERT_EQ(loaded.keyCount(PosX), 3) << i;
        KeyframeDesc key;
        ASSERT_TRUE(loaded.getKey(PosX, 1, key));
        EXPECT_EQ(static_cast<std::int32_t>(key.mode), stored) << i;
        EXPECT_NEAR(loaded.evaluate(PosX, 0.7f), (1.5f + -1.0f) / 2.0f, 1e-5) << i;
        // Saved again, the key keeps the value it came with.
        MemoryStorage again;
        again.open();
        ASSERT_TRUE(saveTrack(*again.root(), loaded, PosX));
        EXPECT_EQ(again.root()->openChild("0001")->getInt("PzKFInterpolationMode", 99), stored);
    }
}

TEST_F(MotionFormatTest, GroupFlagsRoundTripAndAMissingNodeLeavesThem) {
    context.tables().setLocked(GroupCamera, true);
    ASSERT_TRUE(saveGroups(*root, context.tables()));
    StandaloneMotionContext other;
    loadGroups(*root, other.tables());
    for (int g = 0; g < kGroupCount; ++g) {
        EXPECT_EQ(other.tables().isLocked(g), g == GroupCamera) << g;
    }
    // A group child without "Flags" reads as locked; no "Groups" node changes nothing.
    root->openChild("Groups")->openChild("Scale")->deleteValue("Flags");
    loadGroups(*root, other.tables());
    EXPECT_TRUE(other.tables().isLocked(GroupScale));
    MemoryStorage empty;
    empty.open();
    loadGroups(*empty.root(), other.tables());
    EXPECT_TRUE(other.tables().isLocked(GroupScale));
    EXPECT_TRUE(other.tables().isLocked(GroupCamera));
}

}  // namespace
}  // namespace pm
