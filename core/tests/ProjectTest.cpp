#include <gtest/gtest.h>

#include <vector>

#include "core/ChangeListener.h"
#include "core/Project.h"
#include "core/ProjectContext.h"

namespace pm {
namespace {

constexpr TickTime kSecond = 27'000'000;

// A project of scenes laid out by (start, length) in seconds.
class ProjectTest : public ::testing::Test {
protected:
    ProjectContext context;
    Project& project = context.project();

    void SetUp() override { ASSERT_TRUE(context.initialise(false)); }

    void layout(std::initializer_list<std::pair<double, double>> scenes) {
        for (const auto& [start, length] : scenes) {
            ASSERT_GE(project.addScene("", secondsToTicks(start), secondsToTicks(length)), 0);
        }
    }
    std::vector<double> starts() const {
        std::vector<double> out;
        for (int i = 0; i < project.sceneCount(); ++i) {
            out.push_back(ticksToSeconds(project.startAt(i)));
        }
        return out;
    }
    std::vector<int> ids() const {
        std::vector<int> out;
        for (int i = 0; i < project.sceneCount(); ++i) {
            out.push_back(project.idAt(i));
        }
        return out;
    }
};

TEST_F(ProjectTest, DerivedValues) {
    EXPECT_EQ(project.projectLength(), 5 * kSecond);  // empty project
    layout({{0, 5}, {4, 5}, {7, 3}});
    EXPECT_EQ(project.overlapAfter(0), 1 * kSecond);
    EXPECT_EQ(project.overlapAfter(1), 2 * kSecond);
    EXPECT_EQ(project.overlapAfter(2), 0);
    EXPECT_EQ(project.projectLength(), 10 * kSecond);
    EXPECT_EQ(project.length(), 10 * kSecond);  // the project object follows
    EXPECT_EQ(project.startOf(99), 0);
    EXPECT_EQ(project.lengthOf(99), 10 * kSecond);
    EXPECT_EQ(ids(), (std::vector<int>{1, 2, 3}));
}

TEST_F(ProjectTest, DeletingClosesTheGapWithTheSmallerOverlap) {
    layout({{0, 5}, {4, 5}, {7, 3}});  // overlaps 1 s and 2 s
    ASSERT_TRUE(project.deleteScene(1, true));
    EXPECT_EQ(starts(), (std::vector<double>{0, 4}));
    EXPECT_EQ(project.overlapAfter(0), 1 * kSecond);

    ASSERT_TRUE(project.deleteScene(1, true));  // the last one: nothing moves
    EXPECT_EQ(starts(), (std::vector<double>{0}));
    EXPECT_FALSE(project.deleteScene(3, true));
}

TEST_F(ProjectTest, InsertingPlacesAndOverlaps) {
    struct Case {
        const char* what;
        double at;
        std::vector<double> starts;
        std::vector<int> ids;
    };
    // Scenes 1, 2, 3 of 5 s overlapping by 1 s: [0, 5), [4, 9), [8, 13). The new one lasts 3 s.
    const Case cases[] = {
        {"at 0: first; the rest move later by its length less the overlap",
         0,
         {0, 2, 6, 10},
         {4, 1, 2, 3}},
        {"nearest the second start: before it, 1 s overlaps on both sides",
         4.2,
         {0, 4, 6, 10},
         {1, 4, 2, 3}},
        {"nearest the last start: after the last with the default overlap",
         12,
         {0, 4, 8, 12},
         {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        ProjectContext ctx;
        ASSERT_TRUE(ctx.initialise(false));
        Project& p = ctx.project();
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(p.addScene("", i * 4 * kSecond, 5 * kSecond), i + 1);
        }
        ASSERT_EQ(p.insertSceneAt(secondsToTicks(c.at), "", 3 * kSecond), 4) << c.what;
        std::vector<double> s;
        std::vector<int> id;
        for (int i = 0; i < p.sceneCount(); ++i) {
            s.push_back(ticksToSeconds(p.startAt(i)));
            id.push_back(p.idAt(i));
        }
        EXPECT_EQ(s, c.starts) << c.what;
        EXPECT_EQ(id, c.ids) << c.what;
    }
}

TEST_F(ProjectTest, SceneLimitAndPictureFailures) {
    for (int i = 0; i < Project::kMaxScenes; ++i) {
        ASSERT_GE(project.insertSceneAt(project.projectLength(), "", kSecond), 0);
    }
    const auto before = starts();
    EXPECT_EQ(project.insertSceneAt(0, "", kSecond), -1);
    EXPECT_EQ(context.errors().code(), 6221u);
    EXPECT_EQ(context.errors().text(), "Maximum number of scenes exceeded (200)");
    EXPECT_EQ(starts(), before);

    // Without the picture library no file loads: the scene is refused and nothing moved.
    context.errors().clear();
    ASSERT_TRUE(project.deleteScene(0, true));
    const auto kept = starts();
    EXPECT_EQ(project.insertSceneAt(0, "/pictures/beach.jpg", kSecond), -1);
    EXPECT_EQ(context.errors().code(), 6220u);
    EXPECT_EQ(
        context.errors().text().rfind(
            "Could not load image file.  Scene will not be added. \n(/pictures/beach.jpg)", 0),
        0u);
    EXPECT_EQ(starts(), kept);
}

TEST_F(ProjectTest, LengthsAreClamped) {
    layout({{0, 5}, {4, 5}});
    ASSERT_TRUE(project.setSceneLength(0, 3 * kSecond, true));
    EXPECT_EQ(project.startAt(1), 2 * kSecond);  // the follower keeps its 1 s overlap
    ASSERT_TRUE(project.setSceneLength(0, secondsToTicks(0.05), true));
    EXPECT_EQ(project.sceneById(1)->length(), 2'700'000);
    // The follower would keep its overlap by starting before the scene: it stops at its start.
    EXPECT_EQ(project.startAt(1), 0);
    EXPECT_EQ(project.idAt(0), 1);
    ASSERT_TRUE(project.setSceneLength(1, 8000 * kSecond, false));
    EXPECT_EQ(project.sceneAt(1)->length(), 7200 * kSecond);
}

TEST_F(ProjectTest, MovingAndSettingStarts) {
    layout({{0, 5}, {4, 5}, {8, 5}});
    // To the end: the default overlap of 1 s with the former last scene.
    ASSERT_TRUE(project.moveSceneAfter(0, 2));
    EXPECT_EQ(ids(), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(starts(), (std::vector<double>{0, 4, 8}));
    EXPECT_EQ(project.overlapAfter(1), kSecond);

    // A start inside the second half of the previous scene shifts the followers.
    ASSERT_TRUE(project.setSceneStart(1, secondsToTicks(3.5), true));
    EXPECT_EQ(starts(), (std::vector<double>{0, 3.5, 7.5}));
    // A start inside the first half of the previous scene moves the scene before it.
    ASSERT_TRUE(project.setSceneStart(2, secondsToTicks(4.0), true));
    EXPECT_EQ(ids(), (std::vector<int>{2, 1, 3}));
    // Forward into the first half of the next scene: after that scene.
    const double next = project.startAt(1) / static_cast<double>(kSecond);
    ASSERT_TRUE(project.setSceneStart(0, secondsToTicks(next + 1.0), true));
    EXPECT_EQ(ids(), (std::vector<int>{1, 2, 3}));
    // Forward into the first half of a later scene: after it too.
    ASSERT_TRUE(project.setSceneStart(0, project.startAt(2) + kSecond, true));
    EXPECT_EQ(ids(), (std::vector<int>{2, 3, 1}));
}

TEST_F(ProjectTest, LookupReportsTransitions) {
    layout({{0, 5}, {4, 5}});  // 9 s; overlap [4, 5)
    const auto at = [&](double seconds) { return project.sceneAtTime(seconds / 9.0); };
    EXPECT_EQ(at(2).id, 1);
    EXPECT_FALSE(at(2).inTransition);
    const SceneAtTime mid = at(4.5);
    EXPECT_EQ(mid.id, 1);
    EXPECT_TRUE(mid.inTransition);
    EXPECT_EQ(mid.nextId, 2);
    EXPECT_EQ(mid.weight4096, 2048);
    EXPECT_NEAR(mid.nextSceneTime, 0.1f, 1e-6);
    EXPECT_EQ(at(4.995).id, 2);  // within 0.01 s of the earlier scene's end
    EXPECT_EQ(at(4.5).id, 1);    // and back again through the cache
    // The scene that ends the project shows until its very end.
    EXPECT_EQ(at(8.995).id, 2);
    EXPECT_EQ(at(9.0).id, 2);
    EXPECT_FLOAT_EQ(at(9.0).sceneTime, 1.0f);
    ASSERT_TRUE(project.setSceneLength(0, 6 * kSecond, false));
    EXPECT_EQ(at(5.5).id, 1);  // a change clears the cached answer
}

TEST_F(ProjectTest, RawEditsCloseGapsAtTheEnd) {
    layout({{0, 5}, {4, 5}});
    context.beginRawEdit();
    context.beginRawEdit();
    ASSERT_TRUE(project.setSceneLength(0, 2 * kSecond, context.reflow()));
    context.endRawEdit();
    EXPECT_EQ(starts(), (std::vector<double>{0, 4}));  // still raw
    context.endRawEdit();
    EXPECT_EQ(starts(), (std::vector<double>{0, 2}));
}

TEST_F(ProjectTest, ProjectLengthScalesEveryScene) {
    layout({{0, 5}, {4, 6}});
    ASSERT_TRUE(project.setProjectLength(20 * kSecond));
    EXPECT_EQ(starts(), (std::vector<double>{0, 8}));
    EXPECT_EQ(project.sceneAt(1)->length(), 12 * kSecond);
    project.selectScene(1);
    EXPECT_FALSE(project.setProjectLength(10 * kSecond));  // only without a current scene
}

TEST_F(ProjectTest, CopyingASceneCopiesItsKeys) {
    layout({{0, 5}});
    Scene* source = project.sceneAt(0);
    KeyframeDesc d;
    d.value = 7.0f;
    d.mask = KF_VALUE;
    ASSERT_EQ(source->setKeyAtTime(Blur, 0.25f, d), 2);
    const int id = project.copyScene(1, 5 * kSecond);
    ASSERT_GE(id, 0);
    Scene* copy = project.sceneById(id);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->length(), source->length());
    EXPECT_EQ(copy->keyCount(Blur), 1);
    EXPECT_FLOAT_EQ(copy->evaluate(Blur, 0.25f), 7.0f);
}

TEST_F(ProjectTest, ResetKeepsOneDefaultScene) {
    project.setAddDefaultScene(true);
    project.reset();
    ASSERT_EQ(project.sceneCount(), 1);
    EXPECT_EQ(project.idAt(0), 0);
    EXPECT_EQ(project.sceneAt(0)->length(), 5 * kSecond);
    EXPECT_EQ(project.currentSceneId(), -1);
    EXPECT_EQ(project.sceneAt(0)->keyCount(CamDist), 1);
    EXPECT_EQ(project.nextId(), 1);
}

// Records what reaches a view.
class Recorder : public ChangeListener {
public:
    std::vector<std::pair<std::uint32_t, ChangeArgument>> seen;
    std::int32_t answer = 0;
    std::int32_t onChange(std::uint32_t code, ChangeArgument argument) override {
        seen.emplace_back(code, argument);
        return answer;
    }
};

TEST_F(ProjectTest, BatchesMergeAndDeliverInOrder) {
    Recorder view;
    context.addListener(&view);
    context.beginBatch(true);
    context.notify(kChangeKeys, 1);
    context.notify(kChangeCurrentScene, 3);
    context.notify(kChangeKeyValues, 4);
    context.beginBatch(false);  // nested: the outer collect flag holds
    context.notify(kChangeKeys, 2);
    context.notify(kChangeCursor, 0);  // dropped
    context.notify(kChangeProject, 2);
    context.endBatch(false);
    EXPECT_TRUE(view.seen.empty());
    context.notify(0x10000000, 9);  // above the batched range: goes out at once
    context.endBatch(false);
    const std::vector<std::pair<std::uint32_t, ChangeArgument>> expected = {
        {0x10000000, 9},
        {kChangeProject, 2},
        {kChangeKeyValues, 4},
        {kChangeKeys, 3},
        {kChangeCurrentScene, 0}};
    EXPECT_EQ(view.seen, expected);

    view.seen.clear();
    context.beginBatch(false);
    context.notify(kChangeKeys, 1);
    context.endBatch(false);
    EXPECT_EQ(view.seen,
              (std::vector<std::pair<std::uint32_t, ChangeArgument>>{{kChangeProject, 3}}));

    view.seen.clear();
    context.beginBatch(true);
    context.notify(kChangeKeys, 1);
    context.endBatch(true);  // quiet
    EXPECT_TRUE(view.seen.empty());
    context.removeListener(&view);
}

TEST_F(ProjectTest, ViewsHearLastRegisteredFirstUntilOneAnswers) {
    Recorder first;
    Recorder second;
    context.addListener(&first);
    context.addListener(&second);
    second.answer = 5;
    EXPECT_EQ(context.notify(kChangeKeys, 1), 5);
    EXPECT_EQ(second.seen.size(), 1u);
    EXPECT_TRUE(first.seen.empty());
    second.answer = 0;
    EXPECT_EQ(context.notify(kChangeKeys, 1), 0);
    EXPECT_EQ(first.seen.size(), 1u);
    context.removeListener(&first);
    context.removeListener(&second);
}

TEST_F(ProjectTest, MarkerTimesMergeInBatches) {
    Recorder view;
    context.addListener(&view);
    std::vector<TickTime> times;
    struct TimeRecorder : ChangeListener {
        std::vector<TickTime>* out;
        std::int32_t onChange(std::uint32_t code, ChangeArgument argument) override {
            if (code == kChangeMarkers) {
                out->push_back(*reinterpret_cast<const TickTime*>(argument));
            }
            return 0;
        }
    } recorder;
    recorder.out = &times;
    context.addListener(&recorder);
    ASSERT_TRUE(context.addMarker(-1, kSecond, 0));
    context.beginBatch(true);
    ASSERT_TRUE(context.addMarker(-1, 2 * kSecond, 0));
    ASSERT_TRUE(context.addMarker(-1, 3 * kSecond, 0));
    context.endBatch(false);
    EXPECT_EQ(times, (std::vector<TickTime>{kSecond, -1}));
    context.removeListener(&recorder);
    context.removeListener(&view);
}

TEST_F(ProjectTest, Markers) {
    layout({{0, 5}, {4, 5}});
    ASSERT_TRUE(context.addMarker(-1, 2 * kSecond, 1));
    ASSERT_TRUE(context.addMarker(-1, 2 * kSecond, 2));  // same time: after the first
    ASSERT_TRUE(context.addMarker(-1, 6 * kSecond, 0));
    EXPECT_FALSE(context.addMarker(2, kSecond, 1));  // number 1 is taken
    Marker m;
    ASSERT_TRUE(context.marker(-1, 1, m));
    EXPECT_EQ(m.number, 2);
    // Scene 2 spans [4, 9): it sees the marker at 6 s as 2 s into the scene.
    EXPECT_EQ(context.markerCount(2), 1);
    ASSERT_TRUE(context.marker(2, 0, m));
    EXPECT_EQ(m.time, 2 * kSecond);
    EXPECT_EQ(context.nearestMarker(-1, 5 * kSecond), 2);
    EXPECT_EQ(context.nearestMarker(-1, 0), 0);

    EXPECT_FALSE(context.moveMarker(-1, secondsToTicks(6.01), 8 * kSecond));  // not within 1 ms
    ASSERT_TRUE(context.moveMarker(-1, 6 * kSecond, 8 * kSecond));
    ASSERT_TRUE(context.marker(-1, 2, m));
    EXPECT_EQ(m.time, 8 * kSecond);
    ASSERT_TRUE(context.deleteMarker(-1, 0));
    EXPECT_EQ(context.markerCount(-1), 2);
    context.clearMarkers();
    EXPECT_EQ(context.markerCount(-1), 0);
}

TEST_F(ProjectTest, SelectingASceneAnnouncesIt) {
    layout({{0, 5}, {4, 5}});
    Recorder view;
    context.addListener(&view);
    project.selectScene(2);
    EXPECT_EQ(project.currentSceneId(), 2);
    EXPECT_EQ(&project.current(), project.sceneById(2));
    ASSERT_EQ(view.seen.size(), 2u);
    EXPECT_EQ(view.seen[0], (std::pair<std::uint32_t, ChangeArgument>{kChangeCurrentScene, 0}));
    EXPECT_EQ(view.seen[1].first, kChangeCursor);
    EXPECT_EQ(project.current().cursor(), 0.0f);
    project.selectScene(42);
    EXPECT_EQ(project.currentSceneId(), -1);
    EXPECT_EQ(&project.current(), &project);
    context.removeListener(&view);
}

TEST_F(ProjectTest, SceneMotionLengthGoesThroughTheTable) {
    layout({{0, 10}, {9, 5}});
    Scene* first = project.sceneAt(0);
    KeyframeDesc d;
    d.value = 1.0f;
    d.mask = KF_VALUE;
    ASSERT_NE(first->setKeyAtTime(Blur, 0.2f, d), 0);
    ASSERT_TRUE(first->insertTime(10 * kSecond, 0.5f));
    EXPECT_EQ(first->length(), 20 * kSecond);
    EXPECT_EQ(project.startAt(1), 19 * kSecond);  // the follower moved with it
}

}  // namespace
}  // namespace pm
