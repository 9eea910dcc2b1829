#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "ProjectFixtures.h"
#include "audio/SoundTrack.h"
#include "core/ErrorInfo.h"
#include "core/ProjectContext.h"
#include "render/SceneImage.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

using test::kSecond;

// Writes one key node of the track format.
void putKey(StoreKey& track, int index, double value, double time, double slope, double in,
            double out, int user, int mode) {
    char name[8];
    std::snprintf(name, sizeof name, "%04i", index);
    StoreKeyPtr k = track.createChild(name);
    k->setDouble("PzKFrValue", value);
    k->setDouble("PzKFrTime", time);
    k->setDouble("PzKFrSlope", slope);
    k->setDouble("PzKFrInLength", in);
    k->setDouble("PzKFrOutLength", out);
    k->setInt("PzKFrUserDefine", user);
    k->setInt("PzKFInterpolationMode", mode);
}

// A project file put together value by value from the format's tables, without our saver.
void buildFile(const std::string& path, const std::string& picture) {
    FileStorage storage;
    ASSERT_TRUE(storage.open(path, FileStorage::kCreateNew));
    StoreKeyPtr root = storage.root();
    StoreKeyPtr markers = root->createChild("MarkerSettings");
    markers->setInt("NbMarkers", 2);
    StoreKeyPtr m0 = markers->createChild("Marker_0");
    m0->setInt("MarkerNb", 4);
    m0->setInt64("MarkerTime", 3 * kSecond);
    StoreKeyPtr m1 = markers->createChild("Marker_1");
    m1->setInt("MarkerNb", 0);
    m1->setInt64("MarkerTime", 6 * kSecond);
    StoreKeyPtr groups = root->createChild("Groups");
    groups->createChild("Camera")->setInt("Flags", 0);
    groups->createChild("Position")->setInt("Flags", 1);
    root->setString("FileType", "Rev&Udud");
    root->setInt("Version", 77);
    root->setString("ProjectType", "ProjectMacro");
    root->setDouble("VAspRatio", 1.5);
    root->setInt("AssumedWidth", 960);
    root->setInt("NbOfProjects", 2);

    StoreKeyPtr s0 = root->createChild("ProjectKey0");
    s0->setString("FileType", "Rev&Udud");
    StoreKeyPtr prep = s0->createChild("ImagePrep");
    prep->setDouble("Gamma", 1.5);
    prep->setDouble("Contrast", 20.0);
    prep->setDouble("Brightness", -10.0);
    prep->setInt("AutoLevels", 1);
    StoreKeyPtr r0 = s0->createChild("PzRenderSettings");
    StoreKeyPtr motion = s0->createChild("PzKeyframes");
    StoreKeyPtr posX = motion->createChild("PosX");
    posX->setInt("NbOfKF", 2);
    putKey(*posX, 0, 0.25, 0.0, 0.5, 0.75, 1.25, 1, 2);
    putKey(*posX, 1, 1.75, 0.6, -0.25, 1.0, 1.0, 0, 3);
    StoreKeyPtr scale = motion->createChild("Scale");
    scale->setInt("NbOfKF", 1);
    putKey(*scale, 0, 2.0, 0.5, 0.0, 1.0, 1.0, 0, 1);
    s0->setInt("HistChanges", 7);
    r0->setInt("BmpHasAlpha", 0);
    r0->setInt64("Length", 8 * kSecond);
    r0->setInt("ProjectID", 55);
    r0->setString("ImageName", picture);
    r0->setString("DispImageName", "shown.png");
    r0->setInt("BmpWidth", 130);
    r0->setInt("BmpHeight", 100);

    // The second scene carries its picture as decoded pixels (form 2).
    StoreKeyPtr s1 = root->createChild("ProjectKey1");
    s1->setString("FileType", "Rev&Udud");
    s1->createChild("PzKeyframes");
    StoreKeyPtr r1 = s1->createChild("PzRenderSettings");
    r1->setInt64("Length", 4 * kSecond);
    r1->setString("ImageName", "");
    r1->setString("DispImageName", "pixels.bmp");
    r1->setInt("BmpWidth", 100);
    r1->setInt("BmpHeight", 120);
    std::vector<std::uint8_t> pixels(4 * 100 * 120);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 : (i * 13) & 255);
    }
    r1->setBinary("BmpData", pixels.data(), pixels.size());

    // "Bkg" bytes as byte / 255 for 33, 200 and 7.
    root->setDouble("BkgR", 33 * (1.0 / 255));
    root->setDouble("BkgG", 200 * (1.0 / 255));
    root->setDouble("BkgB", 7 * (1.0 / 255));
    StoreKeyPtr starts = root->createChild("StartTimes");
    starts->createChild("SceneStartTime0")->setInt64("SceneStartTime", 0);
    starts->createChild("SceneStartTime1")->setInt64("SceneStartTime", 6 * kSecond);
    StoreKeyPtr sound = root->createChild("PzSoundSettings");
    sound->setString("SoundFilename", "");
    root->createPath("MetaData\\Tool")->setString("By", "hand");
    root.reset();
    s0.reset(), s1.reset(), r0.reset(), r1.reset(), prep.reset(), motion.reset(), posX.reset();
    scale.reset(), markers.reset(), m0.reset(), m1.reset(), groups.reset(), starts.reset();
    sound.reset();
    ASSERT_TRUE(storage.close());
}

class HostileFileTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    test::TestDocument doc;
    std::string file(const std::string& name) const { return folder.file(name); }

    // Opens a copy of `base` changed by `change`; the result code of the error record.
    std::uint32_t openChanged(const std::string& base, const std::function<void(StoreKey&)>& change,
                              bool* ok = nullptr) {
        const std::string path = file("changed.mzp");
        std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
        {
            FileStorage storage;
            EXPECT_TRUE(storage.open(path, FileStorage::kOpenExisting));
            StoreKeyPtr root = storage.root();
            change(*root);
            root.reset();
            EXPECT_TRUE(storage.close());
        }
        doc.context().errors().clear();
        const bool opened = doc.open(path);
        if (ok != nullptr) {
            *ok = opened;
        }
        return opened ? 0u : doc.context().errors().code();
    }
};

TEST_F(HostileFileTest, AFileBuiltKeyByKeyOpensWithEveryValue) {
    const std::string picture = file("pic.png");
    test::writePicture(picture, 130, 100, 3);
    const std::string path = file("hand.mzp");
    buildFile(path, picture);
    ASSERT_TRUE(doc.open(path)) << doc.context().errors().text();
    ProjectContext& context = doc.context();
    Project& project = context.project();
    ASSERT_EQ(project.sceneCount(), 2);
    EXPECT_EQ(project.idAt(0), 1);
    EXPECT_EQ(project.startAt(1), 6 * kSecond);
    EXPECT_EQ(project.sceneAt(0)->length(), 8 * kSecond);
    EXPECT_EQ(project.sceneAt(1)->length(), 4 * kSecond);
    EXPECT_DOUBLE_EQ(project.vAspRatio(), 1.5);
    EXPECT_EQ(project.assumedWidth(), 960);
    EXPECT_EQ(project.backgroundColour(), (Project::Colour{33, 200, 7, 255}));
    EXPECT_FALSE(context.tables().isLocked(GroupCamera));
    EXPECT_TRUE(context.tables().isLocked(GroupPosition));
    ASSERT_EQ(context.markers().all().size(), 2u);
    EXPECT_EQ(context.markers().all()[0].number, 4);
    EXPECT_EQ(context.markers().all()[0].time, 3 * kSecond);
    EXPECT_EQ(context.markers().all()[1].time, 6 * kSecond);

    Scene& first = *project.sceneAt(0);
    ASSERT_EQ(first.keyCount(PosX), 2);
    KeyframeDesc k;
    first.getKey(PosX, 0, k);
    EXPECT_FLOAT_EQ(k.value, 0.25f);
    EXPECT_FLOAT_EQ(k.slope, 0.5f);
    EXPECT_FLOAT_EQ(k.inLength, 0.75f);
    EXPECT_FLOAT_EQ(k.outLength, 1.25f);
    EXPECT_EQ(k.userDefined, 1);
    EXPECT_EQ(k.mode, InterpolationMode::Linear);
    first.getKey(PosX, 1, k);
    EXPECT_FLOAT_EQ(k.time, 0.6f);
    EXPECT_FLOAT_EQ(k.slope, -0.25f);
    EXPECT_EQ(k.mode, InterpolationMode::Spline);
    ASSERT_EQ(first.keyCount(Scale), 1);
    first.getKey(Scale, 0, k);
    EXPECT_NEAR(k.value, 2.0f, 1e-5f);
    EXPECT_EQ(k.mode, InterpolationMode::Constant);
    EXPECT_EQ(first.keyCount(Blur), 0);

    auto& image = dynamic_cast<SceneImage&>(first.picture());
    EXPECT_EQ(image.path(), picture);
    EXPECT_FLOAT_EQ(image.prepSettings().gamma(), 1.5f);
    EXPECT_FLOAT_EQ(image.prepSettings().contrast(), 20.0f);
    EXPECT_FLOAT_EQ(image.prepSettings().brightness(), -10.0f);
    EXPECT_TRUE(image.prepSettings().autoLevels());
    auto& pixels = dynamic_cast<SceneImage&>(project.sceneAt(1)->picture());
    EXPECT_EQ(pixels.width(), 100);
    EXPECT_EQ(pixels.height(), 120);
    EXPECT_EQ(pixels.path(), "[pixels.bmp]");
    const std::uint32_t p = test::pixelOf(*project.sceneAt(1), 1, 0);
    EXPECT_EQ(p & 0xFF, (4 * 13) & 255);
    EXPECT_FALSE(doc.sound().isPresent());
    StoreKeyPtr tool = doc.file().metaData()->openChild("Tool");
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->readString("By"), "hand");
}

TEST_F(HostileFileTest, ARootWithoutProjectTypeIsOneSceneWithAFrameBasedLength) {
    const std::string path = file("single.mzp");
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(path, FileStorage::kCreateNew));
        StoreKeyPtr root = storage.root();
        root->setString("FileType", "Rev&Udud");
        root->createChild("PzKeyframes");
        StoreKeyPtr settings = root->createChild("PzRenderSettings");
        settings->setString("ImageName", "");
        settings->setInt("NbOfFrames", 250);
        settings->setInt("FrameRateNumerator", 30000);
        settings->setInt("FrameRateDenominator", 1001);
        settings.reset();
        root.reset();
        ASSERT_TRUE(storage.close());
    }
    ASSERT_TRUE(doc.open(path));
    ASSERT_EQ(doc.context().project().sceneCount(), 1);
    // 250 frames at 30000/1001 per second.
    EXPECT_EQ(doc.context().project().sceneAt(0)->length(),
              static_cast<TickTime>(std::floor(250.0 * 1001 / 30000 * 27e6 + 0.5)));
}

TEST_F(HostileFileTest, BrokenFilesFailWithTheLoadMessage) {
    const std::string picture = file("pic.png");
    test::writePicture(picture, 130, 100, 3);
    const std::string base = file("base.mzp");
    buildFile(base, picture);
    struct Case {
        const char* what;
        std::function<void(StoreKey&)> change;
        std::uint32_t code;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"wrong file type", [](StoreKey& r) { r.setString("FileType", "Other"); }, 6205},
        {"file type of another type",
         [](StoreKey& r) { r.deleteValue("FileType"), r.setInt("FileType", 1); }, 6205},
        {"a million scenes", [](StoreKey& r) { r.setInt("NbOfProjects", 1'000'000); }, 6205},
        {"more scenes than nodes", [](StoreKey& r) { r.setInt("NbOfProjects", 3); }, 6205},
        {"negative scene count", [](StoreKey& r) { r.setInt("NbOfProjects", -4); }, 6205},
        {"no render settings",
         [](StoreKey& r) { r.openChild("ProjectKey1")->deleteChild("PzRenderSettings"); }, 6205},
        {"no keyframes",
         [](StoreKey& r) { r.openChild("ProjectKey0")->deleteChild("PzKeyframes"); }, 6205},
        {"scene of another kind",
         [](StoreKey& r) { r.openChild("ProjectKey1")->setString("FileType", "x"); }, 6205},
        {"negative length",
         [](StoreKey& r) { r.openPath("ProjectKey0\\PzRenderSettings")->setInt64("Length", -5); },
         6205},
        {"aspect ratio 0", [](StoreKey& r) { r.setDouble("VAspRatio", 0.0); }, 6205},
        {"aspect ratio not a number", [nan](StoreKey& r) { r.setDouble("VAspRatio", nan); }, 6205},
        {"key value not a number",
         [nan](StoreKey& r) {
             r.openPath("ProjectKey0\\PzKeyframes\\PosX\\0000")->setDouble("PzKFrValue", nan);
         },
         6205},
        {"key count beyond the keys",
         [](StoreKey& r) {
             r.openPath("ProjectKey0\\PzKeyframes\\PosX")->setInt("NbOfKF", 1 << 30);
         },
         6205},
        {"zero frame rate",
         [](StoreKey& r) {
             StoreKeyPtr s = r.openPath("ProjectKey0\\PzRenderSettings");
             s->setInt("NbOfFrames", -10), s->setInt("FrameRateNumerator", 25);
             s->setInt("FrameRateDenominator", 1);
         },
         6205},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(openChanged(base, c.change), c.code) << c.what;
    }
}

TEST_F(HostileFileTest, LyingSizesAndOddValuesLoadWhatTheyCan) {
    const std::string picture = file("pic.png");
    test::writePicture(picture, 130, 100, 3);
    const std::string base = file("base.mzp");
    buildFile(base, picture);
    struct Case {
        const char* what;
        std::function<void(StoreKey&)> change;
    };
    const Case cases[] = {
        {"pixels of the wrong size",
         [](StoreKey& r) {
             r.openPath("ProjectKey1\\PzRenderSettings")->setInt("BmpWidth", 5000);
         }},
        {"embedded file size lies",
         [](StoreKey& r) {
             StoreKeyPtr s = r.openPath("ProjectKey1\\PzRenderSettings");
             s->setInt("OrigBmpSize", 1 << 30);
             std::uint8_t junk[40] = {};
             s->setBinary("OrigBmpData", junk, sizeof junk);
         }},
        {"embedded file is junk",
         [](StoreKey& r) {
             StoreKeyPtr s = r.openPath("ProjectKey1\\PzRenderSettings");
             std::uint8_t junk[40] = {1, 2, 3};
             s->setBinary("OrigBmpData", junk, sizeof junk);
             s->setInt("OrigBmpSize", 40);
         }},
        {"huge thumbnail",
         [](StoreKey& r) {
             StoreKeyPtr s = r.openPath("ProjectKey0\\PzRenderSettings");
             s->setInt("ThumbnailWidth", 1 << 20), s->setInt("ThumbnailHeight", 1 << 20);
             s->setInt64("ImageLastModifTime", 1);
         }},
        {"sound size lies",
         [](StoreKey& r) {
             StoreKeyPtr s = r.openChild("PzSoundSettings");
             s->setInt("SoundDataSize", 2'000'000'000);
             std::uint8_t junk[16] = {};
             s->setBinary("SoundData", junk, sizeof junk);
         }},
        {"absurd start times",
         [](StoreKey& r) {
             r.openPath("StartTimes\\SceneStartTime1")
                 ->setInt64("SceneStartTime", std::numeric_limits<std::int64_t>::max());
         }},
        {"marker names out of line",
         [](StoreKey& r) {
             StoreKeyPtr m = r.openChild("MarkerSettings");
             m->setInt("NbMarkers", 2'000'000'000);
             m->createChild("Marker_007")->setInt64("MarkerTime", 1);
             m->createChild("Marker_x")->setInt64("MarkerTime", 1);
         }},
        {"background of another type",
         [](StoreKey& r) { r.deleteValue("BkgR"), r.setString("BkgR", "red"); }},
        {"keyname naming nothing",
         [](StoreKey& r) {
             r.openPath("ProjectKey0\\PzRenderSettings")->setString("Keyname", "Nowhere\\x");
         }},
    };
    for (const Case& c : cases) {
        bool ok = false;
        openChanged(base, c.change, &ok);
        EXPECT_TRUE(ok) << c.what << ": " << doc.context().errors().text();
        EXPECT_EQ(doc.context().project().sceneCount(), 2) << c.what;
        // Whatever was read, rendering reads a picture of the size the scene reports.
        for (int i = 0; i < 2; ++i) {
            ScenePicture& shown = doc.context().project().sceneAt(i)->picture();
            EXPECT_TRUE(shown.ensureLoaded()) << c.what;
            EXPECT_GT(shown.width(), 0) << c.what;
        }
    }
}

// Entries of the file's table: type at 0, size at 12 for data values.
void claimHugeValues(const std::string& path) {
    auto bytes = test::readFile(path);
    ASSERT_GE(bytes.size(), 16u);
    std::uint32_t count = 0;
    std::memcpy(&count, bytes.data() + 8, 4);
    for (std::uint32_t i = 0; i < count && 16 + 16 * (i + 1) <= bytes.size(); ++i) {
        std::uint8_t* entry = bytes.data() + 16 + 16 * i;
        std::uint32_t type = 0;
        std::memcpy(&type, entry, 4);
        if (type == 5) {
            const std::uint32_t huge = 0xF0000000u;
            std::memcpy(entry + 12, &huge, 4);
        }
    }
    test::writeFile(path, bytes);
}

TEST_F(HostileFileTest, DamagedBytesNeverCrashAndLeaveAProject) {
    const std::string picture = file("pic.png");
    test::writePicture(picture, 130, 100, 3);
    const std::string base = file("base.mzp");
    buildFile(base, picture);
    const std::string huge = file("huge.mzp");
    std::filesystem::copy_file(base, huge);
    claimHugeValues(huge);
    doc.open(huge);

    const auto original = test::readFile(base);
    std::mt19937 rng(7);
    const std::string path = file("damaged.mzp");
    for (int round = 0; round < 300; ++round) {
        auto bytes = original;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int f = 0; f < flips; ++f) {
            bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        }
        if (round % 50 == 0) {
            bytes.resize(rng() % bytes.size());
        }
        test::writeFile(path, bytes);
        doc.context().errors().clear();
        if (!doc.open(path)) {
            const std::uint32_t code = doc.context().errors().code();
            EXPECT_TRUE(code == 6205 || code == 6203 || code == 6221 || code == 6219) << code;
        }
        EXPECT_GE(doc.context().project().sceneCount(), 0);
    }
    // A file that is not a store at all leaves the open project as it was.
    ASSERT_TRUE(doc.open(base));
    test::writeFile(path, {'n', 'o', 't', ' ', 'a', ' ', 's', 't', 'o', 'r', 'e'});
    EXPECT_FALSE(doc.open(path));
    EXPECT_EQ(doc.context().errors().code(), 6205u);
    EXPECT_EQ(doc.context().project().sceneCount(), 2);
    // The refused file is not what the next save writes over.
    EXPECT_EQ(doc.path(), std::filesystem::path(base));
    ASSERT_TRUE(doc.save(doc.path()));
    EXPECT_EQ(test::readFile(path).size(), 11u);
}

}  // namespace
}  // namespace pm
