// Evaluating a whole scene's motion at one time: what every rendered and previewed frame costs
// before any pixel is touched.
#include <benchmark/benchmark.h>

#include "core/SceneMotion.h"
#include "core/StandaloneMotionContext.h"

namespace {

void keyScene(pm::SceneMotion& scene, pm::InterpolationMode mode) {
    for (int p = 0; p < pm::kParameterCount; ++p) {
        const pm::KeyframeTrack& track = scene.track(p);
        const float span = track.maximum() - track.minimum();
        const float lo = track.minimum() + 0.2f * span;
        const float hi = track.minimum() + 0.35f * span;
        int i = 0;
        for (float t : {0.0f, 0.3f, 0.55f, 0.8f, 1.0f}) {
            pm::KeyframeDesc d;
            d.time = t;
            d.value = (i++ % 2) ? hi : lo;
            d.mode = mode;
            d.mask = pm::KF_VALUE | pm::KF_TIME | pm::KF_MODE;
            scene.setKeyAtTime(p, t, d);
        }
    }
}

void evaluateScene(benchmark::State& state, pm::InterpolationMode mode) {
    pm::StandaloneMotionContext context;
    pm::SceneMotion scene(context);
    keyScene(scene, mode);
    float t = 0.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scene.evaluateAll(t));
        t += 0.000731f;
        if (t > 1.0f) {
            t -= 1.0f;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EvaluateSceneSpline(benchmark::State& state) {
    evaluateScene(state, pm::InterpolationMode::Spline);
}
void BM_EvaluateSceneLinear(benchmark::State& state) {
    evaluateScene(state, pm::InterpolationMode::Linear);
}

}  // namespace

BENCHMARK(BM_EvaluateSceneSpline);
BENCHMARK(BM_EvaluateSceneLinear);
