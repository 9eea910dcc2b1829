#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "ProjectFixtures.h"
#include "audio/SoundTrack.h"
#include "core/ProjectContext.h"
#include "core/StringTable.h"
#include "render/PictureInsertion.h"
#include "render/SceneImage.h"
#include "document/DocumentHooks.h"
#include "document/PendingUndoAction.h"
#include "document/TemplateFile.h"
#include "document/UndoHistory.h"

namespace pm {
namespace {

using test::kSecond;

// Everything of a project that undo must bring back, as text. Key values go through the file
// format's doubles (and logarithms for some tracks), so they are written to six digits.
std::string dump(ProjectDocument& doc) {
    ProjectContext& context = doc.context();
    const Project& project = context.project();
    std::ostringstream out;
    char value[32];
    const auto number = [&value](double v) {
        std::snprintf(value, sizeof value, "%.6g", v);
        return std::string(value);
    };
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene& scene = *project.sceneAt(i);
        out << "scene " << scene.id() << " start " << project.startAt(i) << " length "
            << scene.length() << " picture '" << scene.picture().path() << "' "
            << scene.picture().width() << "x" << scene.picture().height();
        if (const auto* image = dynamic_cast<const SceneImage*>(&scene.picture())) {
            const ImagePrepSettings& prep = image->prepSettings();
            out << " prep " << prep.gamma() << "/" << prep.contrast() << "/" << prep.brightness()
                << "/" << prep.autoLevels();
        }
        out << "\n";
        for (int p = 0; p < kParameterCount; ++p) {
            for (int k = 0; k < scene.keyCount(p); ++k) {
                KeyframeDesc key;
                scene.getKey(p, k, key);
                out << "  key " << p << " " << number(key.value) << " " << key.time << " "
                    << number(key.slope) << " " << number(key.inLength) << " "
                    << number(key.outLength) << " " << key.userDefined << " "
                    << static_cast<int>(key.mode) << "\n";
            }
        }
    }
    for (const Marker& m : context.markers().all()) {
        out << "marker " << m.number << " " << m.time << "\n";
    }
    const SoundTrack& sound = doc.sound();
    out << "sound '" << sound.fileName() << "' " << sound.isPresent() << sound.isEmbedded() << " "
        << sound.inPoint() << " " << sound.outPoint() << " " << sound.fadeIn() << " "
        << sound.fadeOut() << "\n";
    const Project::Colour c = project.backgroundColour();
    out << "background " << int{c.r} << " " << int{c.g} << " " << int{c.b} << " aspect "
        << project.vAspRatio() << " width " << project.assumedWidth() << "\n";
    return out.str();
}

KeyframeDesc valueKey(float value, float time) {
    KeyframeDesc d;
    d.value = value;
    d.time = time;
    d.mode = InterpolationMode::Linear;
    d.mask = KF_VALUE | KF_TIME | KF_MODE;
    return d;
}

struct NamesSeen : DocumentHooks {
    std::optional<std::string> undo;
    std::optional<std::string> redo;
    int calls = 0;
    void showUndoNames(const std::optional<std::string>& u,
                       const std::optional<std::string>& r) override {
        undo = u;
        redo = r;
        ++calls;
    }
};

// Public: the table of edits below reaches in.
class UndoHistoryTest : public ::testing::Test {
public:
    test::TempFolder folder;
    test::TestDocument doc;
    NamesSeen names;
    ProjectContext& context = doc.context();
    Project& project = doc.context().project();
    UndoHistory& history = doc.history();

    std::string file(const std::string& name) const { return folder.file(name); }
    Scene& scene(int index) { return *project.sceneAt(index); }

    // Three scenes with keys, markers and an embedded sound, saved and opened again: the
    // pictures and the sound come from the project file from then on.
    void SetUp() override {
        context.setHooks(&names);
        project.deleteScene(0, false);
        for (int i = 0; i < 3; ++i) {
            const std::string picture = file("p" + std::to_string(i) + ".png");
            test::writePicture(picture, 120 + 10 * i, 100, i);
            const TickTime start = i == 0 ? 0 : project.endAt(i - 1) - kSecond;
            ASSERT_GE(project.addScene(picture, start, (4 + i) * kSecond), 0);
        }
        ASSERT_NE(scene(0).setKeyAtTime(PosX, 0.5f, valueKey(0.25f, 0.5f)), 0);
        ASSERT_NE(scene(1).setKeyAtTime(Scale, 0.3f, valueKey(1.7f, 0.3f)), 0);
        ASSERT_TRUE(context.addMarker(-1, 2 * kSecond, 1));
        test::writeSound(file("a.wav"), 20.0);
        test::writeSound(file("b.wav"), 12.0);
        ASSERT_TRUE(doc.sound().open(file("a.wav")).ok());
        doc.sound().setTimes(kSecond, 15 * kSecond, kSecond, 2 * kSecond);
        ASSERT_TRUE(doc.save(file("base.mzp")));
        ASSERT_TRUE(doc.open(file("base.mzp"))) << context.errors().text();
        ASSERT_EQ(project.sceneCount(), 3);
        ASSERT_TRUE(doc.sound().isEmbedded());
        test::writePicture(file("q.png"), 110, 140, 7);
    }

    void edit(int actionId, const std::function<void()>& change) {
        change();
        history.record(actionId);
    }
    void addMarker(TickTime time) {
        edit(4031, [&] { ASSERT_TRUE(context.addMarker(-1, time, 0)); });
    }
};

struct Edit {
    int action;
    std::function<void(UndoHistoryTest&)> change;
};

TEST_F(UndoHistoryTest, EveryStepComesBackExactlyByUndoAndByRedo) {
    const std::vector<Edit> edits = {
        {4001, [](auto& t) { t.scene(0).setKeyAtTime(PosY, 0.2f, valueKey(-0.3f, 0.2f)); }},
        {4002,
         [](auto& t) {
             t.scene(1).setKeyAtTime(Angle, 0.1f, valueKey(15.0f, 0.1f));
             t.scene(2).setKeyAtTime(Scale, 0.9f, valueKey(0.6f, 0.9f));
         }},
        {4010, [](auto& t) { t.scene(0).setKeyAtTime(PosX, 0.5f, valueKey(0.75f, 0.5f)); }},
        {4024,
         [](auto& t) {
             ASSERT_GE(t.project.insertSceneAt(5 * kSecond, t.file("q.png"), 3 * kSecond), 0);
         }},
        {4022, [](auto& t) { t.project.setSceneLength(1, 9 * kSecond, true); }},
        {4031, [](auto& t) { ASSERT_TRUE(t.context.addMarker(-1, 7 * kSecond, 4)); }},
        {4026, [](auto& t) { ASSERT_TRUE(t.project.moveSceneAfter(0, 2)); }},
        {4000,
         [](auto& t) {
             t.doc.sound().setFadeIn(3 * kSecond);
             t.doc.sound().setInPoint(2 * kSecond);
         }},
        {4023, [](auto& t) { ASSERT_TRUE(t.project.deleteScene(t.project.indexOf(1), true)); }},
        {4033, [](auto& t) { ASSERT_TRUE(t.context.moveMarker(-1, 2 * kSecond, 3 * kSecond)); }},
        {4003, [](auto& t) { ASSERT_TRUE(t.scene(1).deleteKey(Scale, 0)); }},
        {4014, [](auto& t) { ASSERT_TRUE(t.project.replacePicture(3, t.file("p0.png"))); }},
        {4005,
         [](auto& t) {
             t.project.setBackgroundColour({10, 200, 30, 255}, 1);
         }},
        {4034,
         [](auto& t) {
             auto* image = dynamic_cast<SceneImage*>(&t.scene(0).picture());
             ASSERT_NE(image, nullptr);
             image->prepSettings().setGamma(1.8f);
             image->applyPreparation(nullptr, t.context.errors());
         }},
        {4000, [](auto& t) { ASSERT_TRUE(t.doc.sound().open(t.file("b.wav")).ok()); }},
        {4032, [](auto& t) { ASSERT_TRUE(t.context.deleteMarker(-1, 0)); }},
        {4024, [](auto& t) { ASSERT_GE(t.project.copyScene(2, 0, nullptr), 0); }},
        {4023, [](auto& t) { ASSERT_TRUE(t.project.deleteScene(0, true)); }},
    };
    std::vector<std::string> states{dump(doc)};
    for (const Edit& e : edits) {
        e.change(*this);
        history.record(e.action);
        states.push_back(dump(doc));
        ASSERT_NE(states.back(), states[states.size() - 2]) << "edit " << e.action;
        EXPECT_EQ(names.undo, strings::text(e.action));
        EXPECT_EQ(names.redo, std::nullopt);
    }
    for (std::size_t i = edits.size(); i-- > 0;) {
        ASSERT_TRUE(history.undo());
        ASSERT_EQ(dump(doc), states[i]) << "undo of " << edits[i].action << " (step " << i << ")";
        EXPECT_EQ(names.redo, strings::text(edits[i].action));
    }
    EXPECT_FALSE(history.canUndo());
    EXPECT_EQ(names.undo, std::nullopt);
    for (std::size_t i = 0; i < edits.size(); ++i) {
        ASSERT_TRUE(history.redo());
        ASSERT_EQ(dump(doc), states[i + 1]) << "redo of " << edits[i].action;
        EXPECT_EQ(names.undo, strings::text(edits[i].action));
    }
    EXPECT_FALSE(history.canRedo());
    EXPECT_FALSE(history.redo());
    // Back and forth once more from the far end, through the same steps.
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(history.undo());
    }
    ASSERT_EQ(dump(doc), states[edits.size() - 6]);
}

TEST_F(UndoHistoryTest, OnlyThirtyTwoOfThirtyThreeStepsCanBeUndone) {
    const std::string opened = dump(doc);
    for (int i = 0; i < 33; ++i) {
        addMarker((10 + i) * kSecond / 10);
    }
    EXPECT_EQ(history.undoCount(), 32);
    for (int i = 0; i < 32; ++i) {
        ASSERT_TRUE(history.undo()) << i;
    }
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.undo());
    // The oldest reachable step is the first edit: the opened project and one marker more.
    ASSERT_EQ(context.markers().all().size(), 2u);
    EXPECT_EQ(context.markers().all()[0].time, kSecond);
    EXPECT_NE(dump(doc), opened);
    for (int i = 0; i < 32; ++i) {
        ASSERT_TRUE(history.redo()) << i;
    }
    EXPECT_EQ(context.markers().all().size(), 34u);
}

TEST_F(UndoHistoryTest, AnOpenedFileOffersNothingUntilTheFirstEdit) {
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_FALSE(history.undo());
    EXPECT_EQ(names.undo, std::nullopt);
    EXPECT_EQ(names.redo, std::nullopt);
    addMarker(kSecond);
    EXPECT_EQ(history.undoCount(), 1);
    EXPECT_EQ(names.undo, "Marker Added");
    doc.newProject();
    EXPECT_FALSE(history.canUndo());
    EXPECT_EQ(project.sceneCount(), 1);
}

TEST_F(UndoHistoryTest, SavingLeavesTheOffersAsTheyWere) {
    addMarker(kSecond);
    addMarker(2 * kSecond);
    ASSERT_TRUE(history.undo());
    const int step = history.step();
    const int calls = names.calls;
    ASSERT_TRUE(doc.save(file("saved.mzp")));
    EXPECT_EQ(history.step(), step);
    EXPECT_EQ(history.undoCount(), 1);
    EXPECT_EQ(history.redoCount(), 1);
    EXPECT_EQ(names.calls, calls);
    EXPECT_EQ(history.redoName(), "Marker Added");
}

TEST_F(UndoHistoryTest, ANewStepAfterTwoUndosDropsBothRedoSteps) {
    addMarker(kSecond);
    const std::string first = dump(doc);
    addMarker(2 * kSecond);
    edit(4001, [&] { scene(0).setKeyAtTime(Blur, 0.5f, valueKey(3.0f, 0.5f)); });
    ASSERT_TRUE(history.undo());
    ASSERT_TRUE(history.undo());
    edit(4022, [&] { project.setSceneLength(0, 2 * kSecond, true); });
    const std::string last = dump(doc);
    EXPECT_FALSE(history.canRedo());
    EXPECT_FALSE(history.redo());
    EXPECT_EQ(history.undoCount(), 2);
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(dump(doc), first);
    EXPECT_EQ(history.redoCount(), 1);
    ASSERT_TRUE(history.redo());
    EXPECT_EQ(dump(doc), last);
}

TEST_F(UndoHistoryTest, AnAddedSceneGoesAndComesBackWithItsIdKeysAndPicture) {
    int id = -1;
    edit(4024, [&] { id = project.copyScene(project.idAt(1), 0, nullptr); });
    ASSERT_GE(id, 0);
    const auto keys = test::allKeys(*project.sceneById(id));
    ASSERT_EQ(keys[Scale].size(), 1u);
    const std::string path = project.sceneById(id)->picture().path();
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(project.indexOf(id), -1);
    EXPECT_EQ(project.sceneCount(), 3);
    ASSERT_TRUE(history.redo());
    ASSERT_NE(project.sceneById(id), nullptr);
    test::expectSameKeys(keys, test::allKeys(*project.sceneById(id)));
    EXPECT_EQ(project.sceneById(id)->picture().path(), path);
    EXPECT_FALSE(project.sceneById(id)->picture().isDefault());
}

// Many pictures added at once enter in their order, skipping the one that is not a picture, and
// make one step that undo takes back whole.
TEST_F(UndoHistoryTest, PicturesAddedTogetherAreOneStepInTheirOrder) {
    const std::vector<std::string> paths = {file("q.png"), file("nothing.png"), file("p2.png"),
                                            file("p0.png")};
    std::ofstream(file("nothing.png")) << "not a picture";
    const std::string before = dump(doc);
    std::vector<std::string> skipped;
    edit(4024, [&] {
        EXPECT_EQ(appendPictures(context, paths, 2 * kSecond, nullptr,
                                 [&](const InsertedPicture& p) {
                                     if (p.sceneId < 0) {
                                         skipped.push_back(p.path);
                                     }
                                 }),
                  3);
    });
    EXPECT_EQ(skipped, std::vector<std::string>{file("nothing.png")});
    ASSERT_EQ(project.sceneCount(), 6);
    EXPECT_EQ(scene(3).picture().path(), file("q.png"));
    EXPECT_EQ(scene(4).picture().path(), file("p2.png"));
    EXPECT_EQ(scene(5).picture().path(), file("p0.png"));
    EXPECT_EQ(history.undoName(), "Scene Added");
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(dump(doc), before);
}

// Templates laid onto two scenes make one step; undo brings back both scenes' motion.
TEST_F(UndoHistoryTest, ATemplateListIsOneStepThatUndoTakesBack) {
    edit(4001, [&] { scene(2).setKeyAtTime(Blur, 0.5f, valueKey(15.0f, 0.5f)); });
    const std::string motion = file("blur.mzt");
    ASSERT_TRUE(templates::saveMotionTemplate(scene(2), motion));
    const std::string before = dump(doc);
    const int steps = history.step();
    ASSERT_TRUE(templates::applyTemplateList(context, {project.idAt(0), project.idAt(1)}, {motion},
                                             templates::ApplyOrder::InOrder, &history));
    EXPECT_EQ(history.step(), steps + 1);
    EXPECT_EQ(history.undoName(), "Template Applied");
    EXPECT_FLOAT_EQ(scene(0).evaluate(Blur, 0.5f), 15.0f);
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(dump(doc), before);
    // A list that stops records nothing.
    EXPECT_FALSE(templates::applyTemplateList(context, {project.idAt(0)}, {file("none.mzt")},
                                              templates::ApplyOrder::InOrder, &history));
    EXPECT_EQ(history.step(), steps);
}

TEST_F(UndoHistoryTest, ADeletedSceneComesBackWithTheKeysItHadWhenDeleted) {
    const int id = project.idAt(0);
    edit(4001, [&] { scene(0).setKeyAtTime(OffY, 0.4f, valueKey(0.1f, 0.4f)); });
    const auto keys = test::allKeys(scene(0));
    edit(4023, [&] { project.deleteScene(0, true); });
    // A later step does not disturb what the deleted scene left behind.
    addMarker(kSecond);
    ASSERT_TRUE(history.undo());
    ASSERT_TRUE(history.undo());
    ASSERT_NE(project.sceneById(id), nullptr);
    EXPECT_EQ(project.indexOf(id), 0);
    test::expectSameKeys(keys, test::allKeys(*project.sceneById(id)));
}

TEST_F(UndoHistoryTest, ASceneDeletedBeforeASaveComesBackWithItsOwnEmbeddedPicture) {
    // Embedded pictures are read from the file kept open; the save replaces that file with one
    // that no longer holds the deleted scene's picture, and holds another under its old name.
    const int id = project.idAt(0);
    edit(4023, [&] { project.deleteScene(0, true); });
    ASSERT_TRUE(doc.save(file("base.mzp")));
    ASSERT_TRUE(history.undo());
    Scene* back = project.sceneById(id);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->picture().path(), "[p0.png]");
    EXPECT_EQ(back->picture().width(), 120);
    EXPECT_EQ(test::pixelOf(*back, 5, 7), test::pictureColour(0, 5, 7));
    // Saved again, the scene keeps it.
    ASSERT_TRUE(doc.save(file("again.mzp")));
    ASSERT_TRUE(history.redo());
    ASSERT_TRUE(history.undo());
    ASSERT_NE(project.sceneById(id), nullptr);
    EXPECT_EQ(test::pixelOf(*project.sceneById(id), 5, 7), test::pictureColour(0, 5, 7));
}

TEST_F(UndoHistoryTest, AStepKeepsOnlyTheScenesItChanged) {
    addMarker(kSecond);
    const int before = history.sceneSnapshotCount();
    addMarker(2 * kSecond);
    EXPECT_EQ(history.sceneSnapshotCount(), before);
    edit(4001, [&] { scene(2).setKeyAtTime(PosX, 0.6f, valueKey(0.2f, 0.6f)); });
    EXPECT_EQ(history.sceneSnapshotCount(), before + 1);
    edit(4022, [&] { project.setSceneLength(2, 3 * kSecond, false); });
    EXPECT_EQ(history.sceneSnapshotCount(), before + 2);
}

TEST_F(UndoHistoryTest, OldSceneSnapshotsGoOnlyOnceNoStepNeedsThem) {
    const auto setPosX = [this](int action, float value) {
        edit(action, [&] { scene(0).setKeyAtTime(PosX, 0.1f, valueKey(value, 0.1f)); });
    };
    setPosX(4001, 0.3f);
    setPosX(4010, 0.4f);
    const std::string kept = dump(doc);
    for (int i = 0; i < 31; ++i) {
        addMarker((10 + i) * kSecond / 10);
    }
    setPosX(4010, 0.5f);
    addMarker(5 * kSecond);
    // The first edit's state is out of reach; the second's is what the oldest step shows.
    EXPECT_EQ(history.sceneSnapshotCount(), 3 + 2);
    while (history.undo()) {
    }
    const auto withoutMarkers = [](const std::string& text) {
        std::istringstream in(text);
        std::string line, out;
        while (std::getline(in, line)) {
            if (line.rfind("marker", 0) != 0) {
                out += line + "\n";
            }
        }
        return out;
    };
    EXPECT_EQ(withoutMarkers(dump(doc)), withoutMarkers(kept));
}

TEST_F(UndoHistoryTest, RestoringWaitsForPicturesBeingLoaded) {
    int asked = 0;
    history.setLoadingProbe([&asked] { return ++asked < 3; });
    addMarker(kSecond);
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(history.undo());
    EXPECT_EQ(asked, 3);
}

TEST_F(UndoHistoryTest, NothingIsRecordedWhileSuspended) {
    history.setSuspended(true);
    addMarker(kSecond);
    EXPECT_FALSE(history.canUndo());
    history.setSuspended(false);
    addMarker(2 * kSecond);
    ASSERT_TRUE(history.undo());
    // The edit made while suspended belongs to no step: undo goes back to the opened file.
    ASSERT_EQ(context.markers().all().size(), 1u);
    EXPECT_EQ(context.markers().all()[0].time, 2 * kSecond);
}

TEST(PendingUndoActionTest, KeySetsNameTheEditAsAWhole) {
    struct Case {
        std::vector<int> results;
        std::optional<int> name;
    };
    const std::vector<Case> cases = {
        {{}, std::nullopt}, {{0, 0}, std::nullopt}, {{1, 1, 1}, 4010}, {{2}, 4001},
        {{1, 2}, 4001},     {{2, 1}, 4001},         {{2, 2}, 4002},    {{1, 2, 2, 2, 1}, 4002},
    };
    for (const Case& c : cases) {
        PendingUndoAction pending;
        for (int r : c.results) {
            pending.noteKeySet(r);
        }
        EXPECT_EQ(pending.pending(), c.name) << ::testing::PrintToString(c.results);
    }
}

TEST_F(UndoHistoryTest, APendingEditIsRecordedOnce) {
    PendingUndoAction pending;
    pending.finish(history);
    EXPECT_FALSE(history.canUndo());
    pending.noteKeySet(scene(0).setKeyAtTime(PosX, 0.8f, valueKey(0.1f, 0.8f)));
    pending.noteKeySet(scene(0).setKeyAtTime(PosX, 0.8f, valueKey(0.2f, 0.8f)));
    pending.finish(history);
    pending.finish(history);
    EXPECT_EQ(history.undoCount(), 1);
    EXPECT_EQ(history.undoName(), "Keyframe Added");
}

TEST(UndoMenuTextTest, NamesFollowTheCommandAndPrecedeTheShortcut) {
    EXPECT_EQ(undoMenuText(false, "Scene Added"), "&Undo Scene Added\tCtrl+Z");
    EXPECT_EQ(undoMenuText(true, "Marker Moved"), "&Redo Marker Moved\tCtrl+Y");
    EXPECT_EQ(undoMenuText(true, std::nullopt), "&Redo \tCtrl+Y");
}

}  // namespace
}  // namespace pm
