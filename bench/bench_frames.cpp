// Project frames at 1920 x 1080 from a 6000 x 4000 picture: a slow zoom, a rotated and tilted
// frame, a transition, and blur 20; on one core (one band) and on all of them.
#include <benchmark/benchmark.h>

#include <memory>

#include "core/ProjectContext.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/ScenePictureFactory.h"
#include "render/tests/PictureFiles.h"

namespace {

using namespace pm;

struct Setup {
    test::TempFolder folder;
    ProjectContext context;
    Setup() {
        context.initialise(false);
        installScenePictures(context);
        context.project().setVAspRatio(16.0 / 9.0);
        context.project().setAssumedWidth(1920);
        const std::string big = folder.file("big.jpg");
        test::writeFile(
            big, test::encodePicture(6000, 4000, 24, FIF_JPEG, test::gradient, JPEG_QUALITYGOOD));
        Project& p = context.project();
        const TickTime ten = 10 * kTicksPerSecond;
        // Scenes: 0 slow zoom, 1 rotated and tilted, 2 blurred; each overlaps the next by 1 s.
        for (int i = 0; i < 3; ++i) {
            p.insertSceneAt(p.projectLength(), big, ten);
        }
        key(*p.sceneAt(0), Scale, 0.0f, 1.0f);
        key(*p.sceneAt(0), Scale, 1.0f, 1.2f);
        key(*p.sceneAt(0), PosX, 1.0f, 0.52f);
        key(*p.sceneAt(1), Angle, 0.0f, 0.3f);
        key(*p.sceneAt(1), CamAngleA, 0.0f, 0.3f);
        key(*p.sceneAt(1), CamAngleB, 0.0f, 0.2f);
        key(*p.sceneAt(2), Blur, 0.0f, 20.0f);
    }
    static void key(Scene& scene, int parameter, float t, float value) {
        KeyframeDesc d;
        d.value = value;
        d.time = t;
        d.mask = KF_VALUE | KF_TIME;
        scene.setKeyAtTime(parameter, t, d);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// Project times (seconds) of each case: the middle of a scene, or the middle of an overlap.
void renderAt(benchmark::State& state, double from, double to) {
    Setup& s = setup();
    const double length = ticksToSeconds(s.context.project().projectLength());
    ImageBuffer frame;
    PerfKit::allocate(&frame, PixelFormat::Bgra32, 1920, 1080);
    ProjectRenderer renderer(s.context);
    renderer.setBands(static_cast<int>(state.range(0)));
    // Warm up: the picture and its levels are loaded once, outside the timing.
    renderer.renderFrame(from / length, frame, FieldMode::Frame, 1.0f, PictureAccess::Full);
    double t = from;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            renderer.renderFrame(t / length, frame, FieldMode::Frame, 1.0f, PictureAccess::Full));
        t += 1.0 / 30.0;
        if (t > to) {
            t = from;
        }
    }
    state.SetItemsProcessed(state.iterations());
    PerfKit::free(&frame);
}

void BM_SlowZoom(benchmark::State& state) {
    renderAt(state, 1.0, 8.5);
}
void BM_RotatedTilted(benchmark::State& state) {
    renderAt(state, 10.0, 17.5);
}
void BM_Transition(benchmark::State& state) {
    renderAt(state, 18.05, 18.95);
}
void BM_Blur20(benchmark::State& state) {
    renderAt(state, 20.0, 26.0);
}

// Argument: bands (1 = one core, 0 = one per processor).
BENCHMARK(BM_SlowZoom)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotatedTilted)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transition)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Blur20)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
