#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "core/ProjectContext.h"
#include "render/PerfKit.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/tests/PictureFiles.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"
#include "document/TemplateFile.h"

namespace pm {
namespace {

constexpr TickTime kSecond = kTicksPerSecond;

class TemplateFileTest : public ::testing::Test {
protected:
    ProjectContext context;
    std::filesystem::path folder;

    void SetUp() override {
        std::random_device rd;
        folder = std::filesystem::temp_directory_path() / ("pm-templates-" + std::to_string(rd()));
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(context.initialise(false));
        installScenePictures(context);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    Scene& scene(TickTime length) {
        const int id =
            context.project().insertSceneAt(context.project().projectLength(), "", length);
        return *context.project().sceneById(id);
    }
    static void key(Scene& s, int p, float t, float v) {
        KeyframeDesc d;
        d.value = v;
        d.time = t;
        d.mask = KF_VALUE | KF_TIME;
        ASSERT_NE(s.setKeyAtTime(p, t, d), 0);
    }
};

TEST_F(TemplateFileTest, AMotionStretchesToTheSceneItIsLaidOn) {
    Scene& from = scene(10 * kSecond);
    key(from, PosX, 0.0f, 0.3f);
    key(from, PosX, 0.5f, 0.7f);  // at 5 s
    key(from, Scale, 0.5f, 1.5f);
    const auto path = folder / "pan.mzt";
    ASSERT_TRUE(templates::saveMotionTemplate(from, path));
    EXPECT_TRUE(templates::isMotionTemplate(path));

    Scene& to = scene(4 * kSecond);
    key(to, Blur, 0.2f, 10.0f);
    const std::string picture = to.picture().path();
    ASSERT_TRUE(templates::applyMotionTemplate(context, to.id(), path));
    EXPECT_EQ(to.length(), 4 * kSecond);  // the scene keeps its length
    EXPECT_EQ(to.keyCount(Blur), 0);      // its own keys are replaced by the template's (none)
    EXPECT_NEAR(to.evaluate(Blur, 0.2f), 0.0f, 1e-6);
    EXPECT_NEAR(to.evaluate(PosX, 0.5f), 0.7f, 1e-5);  // 5 s of 10 lands at 2 s of 4
    EXPECT_NEAR(to.evaluate(Scale, 0.5f), 1.5f, 1e-4);
    EXPECT_EQ(to.picture().path(), picture);  // the picture stays
    EXPECT_FALSE(context.errors().hasFailure());

    ImageBuffer icon;
    ASSERT_TRUE(templates::readTemplateIcon(path, icon));
    EXPECT_EQ(icon.width, 128u);
    EXPECT_EQ(icon.height, 128u);
    int drawn = 0;
    for (std::uint32_t y = 0; y < icon.height; ++y) {
        for (std::uint32_t x = 0; x < icon.width; ++x) {
            drawn += icon.row(y)[x * 4 + 3] != 0;
        }
    }
    EXPECT_GT(drawn, 500);  // the frames' path shows
    PerfKit::free(&icon);
}

TEST_F(TemplateFileTest, ATemplateHoldsTheWholeSceneNodeAndGoesOntoAnyScene) {
    // A picture with a transparent corner, so the template says that it has alpha.
    const std::string with = (folder / "logo.png").string();
    test::writeFile(with, test::encodePicture(320, 200, 32, FIF_PNG, [](int x, int y) {
                        return test::bgra(x % 256, y % 256, 90, x < 10 && y < 10 ? 0 : 255);
                    }));
    const std::string opaque = (folder / "photo.png").string();
    test::writeFile(opaque, test::encodePicture(200, 300, 24, FIF_PNG, test::gradient));
    Scene& from =
        *context.project().sceneById(context.project().insertSceneAt(0, with, 6 * kSecond));
    key(from, PosX, 0.5f, 0.4f);
    const auto path = folder / "logo.mzt";
    ASSERT_TRUE(templates::saveMotionTemplate(from, path));

    FileStorage storage;
    ASSERT_TRUE(storage.open(path, FileStorage::kReadOnly));
    StoreKeyPtr root = storage.root();
    StoreKeyPtr settings = root->openChild("PzRenderSettings");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->readString("ImageName"), with);
    EXPECT_EQ(settings->readString("DispImageName"), "logo.png");
    EXPECT_EQ(settings->getInt("BmpWidth", 0), 320);
    EXPECT_EQ(settings->getInt("BmpHeight", 0), 200);
    EXPECT_TRUE(settings->hasValue("Keyname"));
    EXPECT_EQ(settings->getInt("ProjectID", -1), from.id());
    EXPECT_EQ(settings->getInt("BmpHasAlpha", 0), 1);
    EXPECT_EQ(settings->getInt64("Length", 0), 6 * kSecond);
    // A new scene's keys and picture count as changes, as the project file records them.
    EXPECT_NE(root->getInt("HistChanges", 0), 0);
    // Templates carry motion, never pictures.
    EXPECT_FALSE(settings->hasValue("OrigBmpData"));
    EXPECT_FALSE(settings->hasValue("BmpData"));
    EXPECT_FALSE(settings->hasValue("ThumbnailData"));
    root.reset();
    storage.close();

    // Onto a scene of another shape, length and picture: the motion comes, the picture stays,
    // and the template's alpha flag takes effect.
    Scene& to = *context.project().sceneById(
        context.project().insertSceneAt(context.project().projectLength(), opaque, 3 * kSecond));
    auto* image = dynamic_cast<SceneImage*>(&to.picture());
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->hasAlpha());
    ASSERT_TRUE(templates::applyMotionTemplate(context, to.id(), path));
    EXPECT_FALSE(context.errors().hasFailure()) << context.errors().text();
    EXPECT_EQ(to.picture().path(), opaque);
    EXPECT_EQ(to.picture().width(), 200);
    EXPECT_EQ(to.length(), 3 * kSecond);
    EXPECT_NEAR(to.evaluate(PosX, 0.5f), 0.4f, 1e-5);
    EXPECT_TRUE(image->hasAlpha());
    // Another picture brings its own flag again.
    const std::string other = (folder / "other.png").string();
    std::filesystem::copy_file(opaque, other);
    ASSERT_TRUE(to.picture().load(other, nullptr, context.errors()));
    EXPECT_FALSE(image->hasAlpha());
}

TEST_F(TemplateFileTest, ListsGoOntoTheSelectionFromTheLastSceneBack) {
    // Two templates told apart by their blur.
    std::vector<std::filesystem::path> list;
    for (const float blur : {10.0f, 20.0f}) {
        Scene& t = scene(2 * kSecond);
        key(t, Blur, 0.0f, blur);
        list.push_back(folder / ("blur" + std::to_string(static_cast<int>(blur)) + ".mzt"));
        ASSERT_TRUE(templates::saveMotionTemplate(t, list.back()));
        context.project().deleteScene(context.project().indexOf(t.id()), true);
    }
    std::vector<Scene*> scenes;
    for (int i = 0; i < 7; ++i) {
        scenes.push_back(&scene(2 * kSecond));
    }
    // Scenes at indexes 1, 4 and 6 are selected: 6 gets A, 4 gets B, 1 gets A again.
    const std::vector<int> selected = {scenes[1]->id(), scenes[4]->id(), scenes[6]->id()};
    ASSERT_TRUE(
        templates::applyTemplateList(context, selected, list, templates::ApplyOrder::InOrder));
    EXPECT_FLOAT_EQ(scenes[6]->evaluate(Blur, 0.5f), 10.0f);
    EXPECT_FLOAT_EQ(scenes[4]->evaluate(Blur, 0.5f), 20.0f);
    EXPECT_FLOAT_EQ(scenes[1]->evaluate(Blur, 0.5f), 10.0f);
    EXPECT_EQ(scenes[0]->keyCount(Blur), 0);  // not selected

    // At random every selected scene gets one of the list.
    context.keyframeRandom().seed(5);
    ASSERT_TRUE(
        templates::applyTemplateList(context, selected, list, templates::ApplyOrder::Random));
    for (Scene* s : {scenes[1], scenes[4], scenes[6]}) {
        const float blur = s->evaluate(Blur, 0.5f);
        EXPECT_TRUE(blur == 10.0f || blur == 20.0f) << blur;
    }
    EXPECT_FALSE(
        templates::applyTemplateList(context, selected, {}, templates::ApplyOrder::Random));
    // A file that is not a template stops the list.
    EXPECT_FALSE(templates::applyTemplateList(context, selected, {folder / "none.mzt"},
                                              templates::ApplyOrder::InOrder));
    EXPECT_EQ(context.errors().code(), 6215u);
}

TEST_F(TemplateFileTest, OtherStoreFilesAreNotMotionTemplates) {
    const auto path = folder / "plain.mzt";
    {
        FileStorage file;
        ASSERT_TRUE(file.open(path, FileStorage::kCreateNew));
        file.root()->setString("FileType", "Rev&Udud");
        ASSERT_TRUE(file.close());
    }
    EXPECT_FALSE(templates::isMotionTemplate(path));
    Scene& s = scene(2 * kSecond);
    EXPECT_FALSE(templates::applyMotionTemplate(context, s.id(), path));
    EXPECT_EQ(context.errors().code(), 6215u);
    ImageBuffer icon;
    EXPECT_FALSE(templates::readTemplateIcon(path, icon));
    EXPECT_EQ(templates::readTemplateOrientation(folder / "missing.mzt"), 0);
}

TEST_F(TemplateFileTest, ProjectTemplatesGiveTheNewProjectsSettings) {
    const auto path = folder / "theme.mzs";
    {
        FileStorage file;
        ASSERT_TRUE(file.open(path, FileStorage::kCreateNew));
        StoreKeyPtr t = file.root()->createChild("ProjectTemplate");
        t->setString("Name", "Summer");
        t->setDouble("OverlapLength", 2.5);
        t->setString("TemplateFolder", "{CFG}/Templates/Summer");
        t.reset();
        ASSERT_TRUE(file.close());
    }
    const auto t = templates::readProjectTemplate(path);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->name, "Summer");
    EXPECT_EQ(t->sceneLength, 5 * kSecond);  // absent: 5 s
    EXPECT_EQ(t->overlap, secondsToTicks(2.5));
    EXPECT_EQ(t->templateFolder, "{CFG}/Templates/Summer");
    EXPECT_FALSE(templates::readProjectTemplate(folder / "none.mzs"));
}

}  // namespace
}  // namespace pm
