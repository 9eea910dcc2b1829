// The undo history on the largest project there can be: recording a step after an edit of one
// scene of 200 (what every keyframe edit costs when it ends), and taking such a step back.
#include <benchmark/benchmark.h>

#include <memory>

#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "document/UndoHistory.h"

namespace {

constexpr pm::TickTime kSecond = 27'000'000;

std::unique_ptr<pm::ProjectDocument> twoHundredScenes() {
    auto doc = std::make_unique<pm::ProjectDocument>();
    pm::Project& project = doc->context().project();
    while (project.sceneCount() > 0) {
        project.deleteScene(0, false);
    }
    for (int i = 0; i < pm::Project::kMaxScenes; ++i) {
        const int id = project.addScene({}, i * 4 * kSecond, 5 * kSecond);
        project.sceneById(id)->applyDefaultKeyframes(pm::SceneMotion::DefaultKeys::SlightMotion);
    }
    doc->history().clear();
    doc->history().record(pm::UndoHistory::DocumentEvent::Created);
    return doc;
}

void setKey(pm::Scene& scene, float value) {
    pm::KeyframeDesc d;
    d.time = 0.5f;
    d.value = value;
    d.mask = pm::KF_VALUE | pm::KF_TIME;
    scene.setKeyAtTime(pm::PosX, 0.5f, d);
}

void recordOneSceneChanged(benchmark::State& state) {
    auto doc = twoHundredScenes();
    pm::Scene& scene = *doc->context().project().sceneAt(100);
    float value = 0.0f;
    for (auto _ : state) {
        state.PauseTiming();
        value = value > 0.5f ? 0.0f : value + 0.01f;
        setKey(scene, value);
        state.ResumeTiming();
        doc->history().record(4010);
    }
    state.counters["scene snapshots"] = doc->history().sceneSnapshotCount();
}
BENCHMARK(recordOneSceneChanged)->Unit(benchmark::kMicrosecond);

void undoOneSceneChanged(benchmark::State& state) {
    auto doc = twoHundredScenes();
    setKey(*doc->context().project().sceneAt(100), 0.25f);
    doc->history().record(4010);
    for (auto _ : state) {
        doc->history().undo();
        state.PauseTiming();
        doc->history().redo();
        state.ResumeTiming();
    }
}
BENCHMARK(undoOneSceneChanged)->Unit(benchmark::kMicrosecond);

}  // namespace
