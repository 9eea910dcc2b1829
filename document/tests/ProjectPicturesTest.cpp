#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ProjectFixtures.h"
#include "core/ErrorInfo.h"
#include "core/ProjectContext.h"
#include "render/SceneImage.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"
#include "document/DocumentHooks.h"

namespace pm {
namespace {

using test::kSecond;

SceneImage& imageOf(Project& project, int index) {
    return dynamic_cast<SceneImage&>(project.sceneAt(index)->picture());
}

class ProjectPicturesTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    test::TestDocument doc;
    Project& project = doc.context().project();

    std::string file(const std::string& name) const { return folder.file(name); }

    void makeScenes(const std::string& subfolder, int count) {
        std::filesystem::create_directories(file(subfolder));
        project.deleteScene(0, false);
        for (int i = 0; i < count; ++i) {
            const std::string picture = file(subfolder + "/p" + std::to_string(i) + ".png");
            test::writePicture(picture, 150 + 10 * i, 110, i + 1);
            ASSERT_GE(project.addScene(picture, i * 4 * kSecond, 5 * kSecond), 0)
                << doc.context().errors().text();
        }
    }

    StoreKeyPtr renderSettings(FileStorage& storage, int index) {
        return storage.root()->openPath("ProjectKey" + std::to_string(index) +
                                        "\\PzRenderSettings");
    }
};

TEST_F(ProjectPicturesTest, WithoutEmbeddingOnlyPathsAreWritten) {
    makeScenes("pics", 2);
    doc.setEmbed(false);
    const std::string path = file("paths.mzp");
    ASSERT_TRUE(doc.save(path));
    FileStorage storage;
    ASSERT_TRUE(storage.open(path, FileStorage::kReadOnly));
    for (int i = 0; i < 2; ++i) {
        StoreKeyPtr settings = renderSettings(storage, i);
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->readString("ImageName"), file("pics/p" + std::to_string(i) + ".png"));
        EXPECT_EQ(settings->readString("DispImageName"), "p" + std::to_string(i) + ".png");
        EXPECT_EQ(settings->valueType("OrigBmpData"), ValueType::None);
        EXPECT_EQ(settings->valueType("BmpData"), ValueType::None);
        EXPECT_EQ(settings->getInt("BmpWidth", 0), 150 + 10 * i);
        EXPECT_EQ(settings->getInt("ThumbnailWidth", 0), 200);
        EXPECT_EQ(settings->getInt("ThumbnailHeight", 0), (110 * 200) / (150 + 10 * i));
    }
}

TEST_F(ProjectPicturesTest, EmbeddedPicturesStayEmbeddedAfterTheirFilesAreDeleted) {
    makeScenes("pics", 2);
    const std::string path = file("embedded.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::remove_all(file("pics"));

    test::TestDocument other;
    other.setEmbed(false);
    ASSERT_TRUE(other.open(path)) << other.context().errors().text();
    Project& loaded = other.context().project();
    // Saved again, even with embedding switched off, the pictures go along: copied from the
    // file loaded before.
    ASSERT_TRUE(other.save(file("again.mzp")));
    std::filesystem::remove(path);
    EXPECT_EQ(test::pixelOf(*loaded.sceneAt(1), 7, 9), test::pictureColour(2, 7, 9));

    test::TestDocument third;
    ASSERT_TRUE(third.open(file("again.mzp")));
    Project& last = third.context().project();
    ASSERT_EQ(last.sceneCount(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(imageOf(last, i).path(), "[p" + std::to_string(i) + ".png]");
        EXPECT_FALSE(imageOf(last, i).isDefault());
        EXPECT_EQ(test::pixelOf(*last.sceneAt(i), 5, 3), test::pictureColour(i + 1, 5, 3)) << i;
    }
    FileStorage storage;
    ASSERT_TRUE(storage.open(file("again.mzp"), FileStorage::kReadOnly));
    StoreKeyPtr settings = renderSettings(storage, 0);
    EXPECT_GT(settings->getInt("OrigBmpSize", 0), 0);
    EXPECT_EQ(settings->readString("ImageName", "x"), "");
}

TEST_F(ProjectPicturesTest, AnUnchangedPictureIsNotDecodedWhileOpening) {
    makeScenes("pics", 2);
    doc.setEmbed(false);
    const std::string path = file("thumbs.mzp");
    ASSERT_TRUE(doc.save(path));
    // The second picture changes after the save.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    test::writePicture(file("pics/p1.png"), 160, 110, 9);

    test::TestDocument other;
    ASSERT_TRUE(other.open(path));
    Project& loaded = other.context().project();
    SceneImage& unchanged = imageOf(loaded, 0);
    EXPECT_FALSE(unchanged.isLoaded());
    EXPECT_EQ(unchanged.width(), 150);
    EXPECT_EQ(unchanged.path(), file("pics/p0.png"));
    const ImageBuffer stored = unchanged.proxy();
    const ImageBuffer original = imageOf(project, 0).proxy();
    ASSERT_EQ(stored.width, original.width);
    ASSERT_EQ(stored.height, original.height);
    EXPECT_EQ(std::memcmp(stored.row(7), original.row(7), 4 * stored.width), 0);
    EXPECT_TRUE(imageOf(loaded, 1).isLoaded());
    EXPECT_EQ(test::pixelOf(*loaded.sceneAt(1), 2, 2), test::pictureColour(9, 2, 2));
    // When it is needed, the picture is read from its file.
    EXPECT_EQ(test::pixelOf(*loaded.sceneAt(0), 4, 6), test::pictureColour(1, 4, 6));
}

TEST_F(ProjectPicturesTest, MovedPicturesAreFoundInTheFolderOfTheFirstOneLocated) {
    makeScenes("old", 3);
    doc.setEmbed(false);
    const std::string path = file("moved.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::rename(file("old"), file("new"));

    test::ShellLikeHooks hooks;
    hooks.answerFolder = file("new");
    test::TestDocument other;
    other.context().setHooks(&hooks);
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(hooks.asked, 1);
    ASSERT_EQ(hooks.shown.size(), 1u);
    EXPECT_EQ(hooks.shown[0], file("old/p0.png"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(other.context().project().sceneAt(i)->picture().path(),
                  file("new/p" + std::to_string(i) + ".png"));
    }
    EXPECT_FALSE(other.context().errors().hasFailure());
    // The next project asks again.
    hooks.answerFolder.clear();
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(hooks.asked, 4);
    other.context().setHooks(nullptr);
}

TEST_F(ProjectPicturesTest, GivingUpOnAPictureLeavesTheDefaultPictureWithoutAMessage) {
    makeScenes("gone", 1);
    doc.setEmbed(false);
    const std::string path = file("gone.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::remove_all(file("gone"));
    test::ShellLikeHooks hooks;
    test::TestDocument other;
    other.context().setHooks(&hooks);
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(hooks.asked, 1);
    EXPECT_TRUE(other.context().project().sceneAt(0)->picture().isDefault());
    EXPECT_EQ(other.context().project().sceneAt(0)->picture().path(), "");
    EXPECT_FALSE(other.context().errors().hasFailure());
    other.context().setHooks(nullptr);
}

TEST_F(ProjectPicturesTest, WithoutWindowsAMissingPictureIsLookedForBesideTheProjectFile) {
    makeScenes("far", 1);
    doc.setEmbed(false);
    std::filesystem::create_directories(file("near"));
    const std::string path = file("near/near.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::rename(file("far/p0.png"), file("near/p0.png"));
    test::TestDocument other;
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(other.context().project().sceneAt(0)->picture().path(), file("near/p0.png"));
}

TEST_F(ProjectPicturesTest, APictureWhoseFileCannotBeReadIsEmbeddedAsPixels) {
    makeScenes("pics", 1);
    ASSERT_TRUE(imageOf(project, 0).ensureLoaded());
    std::filesystem::remove(file("pics/p0.png"));
    const std::string path = file("pixels.mzp");
    ASSERT_TRUE(doc.save(path));
    EXPECT_EQ(doc.context().errors().code(), 6208u);
    test::TestDocument other;
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(test::pixelOf(*other.context().project().sceneAt(0), 11, 13),
              test::pictureColour(1, 11, 13));
    FileStorage storage;
    ASSERT_TRUE(storage.open(path, FileStorage::kReadOnly));
    EXPECT_EQ(renderSettings(storage, 0)->valueSize("BmpData"), 4 * 150 * 110);
}

}  // namespace
}  // namespace pm
