#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/SceneMotion.h"
#include "core/SplineSolver.h"
#include "core/StandaloneMotionContext.h"

namespace pm {
namespace {

// The side-by-side solver must land on exactly the s of the one-at-a-time halving, for monotonic
// curves, for curves user tangents have bent backwards, and for any number of segments.
TEST(SplineSolver, SolvingTogetherMatchesSolvingAloneBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coefficient(-3.0f, 3.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (std::size_t count : {1u, 3u, 10u, 12u, 13u, 40u}) {
        std::vector<Cubic> curves(count);
        std::vector<const Cubic*> pointers;
        std::vector<float> targets;
        for (Cubic& c : curves) {
            c = {coefficient(random), coefficient(random), coefficient(random), unit(random)};
            pointers.push_back(&c);
            targets.push_back(unit(random));
        }
        std::vector<float> together(count);
        solveSplineTimes(pointers, targets, together);
        for (std::size_t i = 0; i < count; ++i) {
            const float alone = solveSplineTime(curves[i], targets[i]);
            EXPECT_EQ(std::memcmp(&alone, &together[i], sizeof alone), 0)
                << "segment " << i << " of " << count << ": " << alone << " vs " << together[i];
        }
    }
}

TEST(SplineSolver, SceneEvaluatesAllParametersLikeOneByOne) {
    StandaloneMotionContext context;
    context.tables().setLocked(GroupAll, true);
    SceneMotion scene(context);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int p = 0; p < kParameterCount; ++p) {
        const KeyframeTrack& track = scene.track(p);
        for (int k = 0; k < 4; ++k) {
            KeyframeDesc d;
            d.value = track.minimum() + unit(random) * (track.maximum() - track.minimum());
            d.mode = static_cast<InterpolationMode>(1 + (k + p) % 3);
            d.mask = KF_VALUE | KF_MODE;
            scene.setKeyAtTime(p, unit(random), d);
        }
    }
    for (float t = -0.1f; t <= 1.1f; t += 0.0137f) {
        const auto all = scene.evaluateAll(t);
        for (int p = 0; p < kParameterCount; ++p) {
            const float one = scene.evaluate(p, t);
            EXPECT_EQ(std::memcmp(&one, &all[p], sizeof one), 0)
                << "parameter " << p << " at " << t;
        }
    }
}

}  // namespace
}  // namespace pm
