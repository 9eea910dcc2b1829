#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "core/ErrorInfo.h"
#include "core/MotionParameter.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/StringTable.h"
#include "render/DefaultPicture.h"
#include "render/ImageDecoder.h"
#include "render/ImageMemoryBudget.h"
#include "render/ImagePrepSettings.h"
#include "render/MipSchedule.h"
#include "render/PerfKit.h"
#include "render/PictureLoader.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

using test::bgra;

std::string pictureFile(const test::TempFolder& folder, const std::string& name, int width,
                        int height, int bpp = 24) {
    const std::string path = folder.file(name);
    test::writeFile(path, test::encodePicture(width, height, bpp, FIF_PNG, test::gradient));
    return path;
}

TEST(ImageMemoryBudgetTest, ReducesOnlyPicturesOverTheLimit) {
    EXPECT_EQ(ImageMemoryBudget::megabytes(32, 4000, 3000), 44u);
    EXPECT_FALSE(ImageMemoryBudget::reducedSize(32, 4000, 3000, 64).has_value());
    EXPECT_EQ(ImageMemoryBudget::megabytes(32, 10000, 8000), 304u);
    const auto reduced = ImageMemoryBudget::reducedSize(32, 10000, 8000, 64);
    ASSERT_TRUE(reduced.has_value());
    EXPECT_EQ(*reduced, (ImageMemoryBudget::Size{4588, 3670}));
    // The reduced picture counts exactly the limit, so loading it again is skipped.
    EXPECT_EQ(ImageMemoryBudget::megabytes(32, 4588, 3670), 64u);
    EXPECT_FALSE(ImageMemoryBudget::reducedSize(32, 10000, 8000, 0).has_value());
}

TEST(MipScheduleTest, TablesAndLevelCounts) {
    MipSchedule one(1);
    one.fill(1000);
    EXPECT_DOUBLE_EQ(one.scale(3), 0.7 * 0.7 * 0.7);
    EXPECT_DOUBLE_EQ(one.threshold(3), one.scale(3));
    EXPECT_EQ(one.levelCount(), 11);  // level 7 and on fall below 100 pixels
    one.fill(6000);
    EXPECT_EQ(one.levelCount(), 12);

    MipSchedule two(2);
    two.fill(100000);
    EXPECT_EQ(two.valueCount(), 8);
    EXPECT_EQ(two.levelCount(), 9);
    EXPECT_DOUBLE_EQ(two.scale(1), 0.65);
    EXPECT_DOUBLE_EQ(two.scale(2), 0.65 * 0.72);
    EXPECT_DOUBLE_EQ(two.threshold(1), 0.85);
    EXPECT_DOUBLE_EQ(two.threshold(3), 0.85 * two.scale(2));

    MipSchedule three(3);
    three.fill(100000);
    EXPECT_DOUBLE_EQ(three.scale(1), 0.76);
    EXPECT_DOUBLE_EQ(three.threshold(1), 1.0);
    EXPECT_DOUBLE_EQ(three.threshold(2), 0.76 * 0.75);

    EXPECT_EQ(MipSchedule(0).levelCount(), 0);
}

TEST(ImagePrepSettingsTest, CurvesAndChangeCounter) {
    ImagePrepSettings prep;
    EXPECT_FALSE(prep.isActive());
    prep.setContrast(0.0f);
    EXPECT_EQ(prep.changeCount(), 0u);
    prep.setContrast(100.0f);
    EXPECT_EQ(prep.changeCount(), 1u);
    prep.setContrast(100.0f);
    EXPECT_EQ(prep.changeCount(), 1u);
    const ImageBuffer none;
    const LevelsTable::Curve contrast = prep.levelsFor(none).curve();
    EXPECT_EQ(contrast[127], 0);
    EXPECT_EQ(contrast[128], 255);
    EXPECT_EQ(contrast[0], 0);
    EXPECT_EQ(contrast[255], 255);

    ImagePrepSettings dark;
    dark.setBrightness(-100.0f);
    EXPECT_TRUE(dark.isActive());
    EXPECT_EQ(dark.levelsFor(none).curve()[255], 128);
    EXPECT_EQ(dark.levelsFor(none).curve()[0], 0);

    // Gamma 1 with another setting active must not disturb the tones it leaves alone.
    ImagePrepSettings auto1;
    auto1.setBrightness(0.5f);  // active, yet a = 0: no step of its own
    const LevelsTable::Curve identity = auto1.levelsFor(none).curve();
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(identity[static_cast<std::size_t>(i)], i);
    }
}

TEST(SceneImageTest, ProxySizes) {
    EXPECT_EQ(SceneImage::proxyWidth(800, 600), 200u);
    EXPECT_EQ(SceneImage::proxyHeight(800, 600), 150u);
    EXPECT_EQ(SceneImage::proxyWidth(600, 800), 150u);
    EXPECT_EQ(SceneImage::proxyHeight(600, 800), 200u);
    // Widths where 1 / (w × 0.005) rounds below 200 in floating point still give 200.
    EXPECT_EQ(SceneImage::proxyWidth(201, 150), 200u);
    EXPECT_EQ(SceneImage::proxyWidth(1090, 1000), 200u);
}

TEST(SceneImageTest, NewPictureShowsTheBuiltInPicture) {
    SceneImage image;
    EXPECT_TRUE(image.isDefault());
    EXPECT_TRUE(image.isLoaded());
    EXPECT_EQ(image.width(), 1024);
    EXPECT_EQ(image.height(), 768);
    EXPECT_EQ(image.proxy().width, 200u);
    EXPECT_EQ(image.proxy().height, 150u);
    EXPECT_GT(image.mipLevelsBuilt(), 0);
    EXPECT_EQ(image.memoryEstimate(), 4 * 200 * 150 + 5000 + 8LL * 1024 * 768);
}

TEST(SceneImageTest, SizeLimitsAndErrors) {
    test::TempFolder folder;
    struct Case {
        int width, height;
        bool loads;
    };
    for (const Case c : {Case{100, 100, true}, Case{99, 100, false}, Case{100, 99, false}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const std::string path = pictureFile(folder, "p.png", c.width, c.height);
        SceneImage image;
        ErrorInfo errors;
        EXPECT_EQ(image.load(path, nullptr, errors), c.loads);
        if (c.loads) {
            EXPECT_FALSE(errors.hasFailure());
            EXPECT_EQ(image.width(), 100);
            EXPECT_EQ(image.path(), path);
            EXPECT_EQ(image.displayName(), "p.png");
        } else {
            EXPECT_EQ(errors.code(), 6210u);
            EXPECT_EQ(errors.text(),
                      "Unsupported image size! The image must be larger than 100 x 100 and "
                      "smaller than 25000 x 25000.");
            EXPECT_TRUE(image.isDefault());
            EXPECT_EQ(image.width(), 1024);
        }
    }
}

TEST(SceneImageTest, UnreadableFilesLeaveTheBuiltInPicture) {
    test::TempFolder folder;
    const std::string empty = folder.file("empty.jpg");
    test::writeFile(empty, {});
    const std::string words = folder.file("words.jpg");
    test::writeFile(words, {'h', 'e', 'l', 'l', 'o'});
    for (const std::string& path : {empty, words, folder.file("missing.png")}) {
        SCOPED_TRACE(path);
        SceneImage image;
        ErrorInfo errors;
        ProgressReporter progress;
        progress.begin("load");
        EXPECT_FALSE(image.load(path, &progress, errors));
        EXPECT_EQ(errors.code(), 6204u);
        EXPECT_EQ(errors.text(), strings::format(6204, {textArg(path)}));
        EXPECT_EQ(progress.statusText(), strings::text(4051));
        EXPECT_TRUE(image.isDefault());
        EXPECT_TRUE(image.isLoaded());
        EXPECT_EQ(image.width(), DefaultPicture::kWidth);
    }
}

TEST(SceneImageTest, FailedReplacementKeepsThePreviousPicture) {
    test::TempFolder folder;
    const std::string good = pictureFile(folder, "good.png", 300, 200);
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.load(good, nullptr, errors));
    EXPECT_FALSE(image.load(folder.file("gone.png"), nullptr, errors));
    EXPECT_EQ(errors.code(), 6204u);
    EXPECT_EQ(image.path(), good);
    EXPECT_EQ(image.width(), 300);
    EXPECT_TRUE(image.isLoaded());
}

TEST(SceneImageTest, LevelsOfScheduleOneOnAThousandWidePicture) {
    test::TempFolder folder;
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.load(pictureFile(folder, "k.png", 1000, 800), nullptr, errors));
    ASSERT_EQ(image.mipLevelsBuilt(), 6);
    const std::uint32_t widths[] = {1000, 700, 490, 343, 240, 168, 117};
    for (int level = 0; level <= 6; ++level) {
        bool locked = false;
        PictureAccess kind = PictureAccess::Full;
        const ImageBuffer b = image.getImage(level, &locked, &kind);
        EXPECT_TRUE(locked);
        EXPECT_EQ(kind, PictureAccess::Full);
        EXPECT_EQ(b.width, widths[level]) << level;
        image.releaseImage();
    }
    // Level 7 does not exist: the proxy comes back, still under a reference.
    bool locked = false;
    PictureAccess kind = PictureAccess::Full;
    EXPECT_EQ(image.getImage(7, &locked, &kind).width, 200u);
    EXPECT_TRUE(locked);
    image.releaseImage();
    EXPECT_EQ(image.readerCount(), 0);

    // Levels n - 1 down to 1 are candidates, the first whose threshold the scale is under wins.
    EXPECT_EQ(image.chooseLevel(0.1), 5);
    EXPECT_EQ(image.chooseLevel(0.3), 3);
    EXPECT_EQ(image.chooseLevel(0.5), 1);
    EXPECT_EQ(image.chooseLevel(0.8), 0);

    ASSERT_TRUE(image.setMipSchedule(2, errors));
    EXPECT_EQ(image.mipLevelsBuilt(), 6);  // 650, 468, 336, 242, 174, 125
    ASSERT_TRUE(image.setMipSchedule(0, errors));
    EXPECT_EQ(image.mipLevelsBuilt(), 0);
    EXPECT_EQ(image.chooseLevel(0.01), 0);
}

TEST(SceneImageTest, UnloadKeepsTheProxyAndReadersGetIt) {
    test::TempFolder folder;
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.load(pictureFile(folder, "u.png", 600, 800), nullptr, errors));
    image.unload();
    EXPECT_FALSE(image.isLoaded());
    EXPECT_EQ(image.width(), 600);
    bool locked = true;
    PictureAccess kind = PictureAccess::Proxy;
    const ImageBuffer proxy = image.getImage(0, &locked, &kind);
    EXPECT_FALSE(locked);
    EXPECT_EQ(kind, PictureAccess::Proxy);
    EXPECT_EQ(proxy.width, 150u);
    EXPECT_EQ(proxy.height, 200u);
    EXPECT_EQ(image.memoryEstimate(), 4 * 150 * 200 + 5000 + 8LL * 600 * 800);

    // Asking for the full picture loads it again.
    kind = PictureAccess::Full;
    const ImageBuffer full = image.getImage(0, &locked, &kind);
    EXPECT_TRUE(locked);
    EXPECT_EQ(full.width, 600u);
    image.releaseImage();
}

TEST(SceneImageTest, RebuildWaitsForReaders) {
    test::TempFolder folder;
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.load(pictureFile(folder, "r.png", 300, 200), nullptr, errors));
    bool locked = false;
    PictureAccess kind = PictureAccess::Full;
    const ImageBuffer held = image.getImage(0, &locked, &kind);
    ASSERT_TRUE(locked);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        image.unload();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(done);
    EXPECT_TRUE(image.isLoaded());
    EXPECT_EQ(held.row(0)[0], image.getImage(0, &locked, &kind).row(0)[0]);
    image.releaseImage();
    image.releaseImage();
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(image.isLoaded());
}

TEST(SceneImageTest, PreparationAppliesToEveryLevelAndTheProxy) {
    test::TempFolder folder;
    const std::string path = folder.file("grey.png");
    test::writeFile(path, test::encodePicture(400, 300, 24, FIF_PNG,
                                              [](int, int) { return bgra(255, 255, 255); }));
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.load(path, nullptr, errors));
    EXPECT_EQ(image.proxy().pixels[0], 255);
    image.prepSettings().setBrightness(-100.0f);
    EXPECT_TRUE(image.preparationPending());
    ASSERT_TRUE(image.applyPreparation(nullptr, errors));
    EXPECT_FALSE(image.preparationPending());
    EXPECT_TRUE(image.isPrepared());
    for (int level : {0, 1, 3}) {
        bool locked = false;
        PictureAccess kind = PictureAccess::Full;
        const ImageBuffer b = image.getImage(level, &locked, &kind);
        EXPECT_EQ(b.row(b.height / 2)[0], 128) << level;
        EXPECT_EQ(b.row(0)[3], 255);
        image.releaseImage();
    }
    EXPECT_EQ(image.proxy().pixels[0], 128);

    // Deferred: the proxy is prepared at once, level 0 when the levels are finished.
    SceneImage deferred;
    deferred.prepSettings().setBrightness(-100.0f);
    ASSERT_TRUE(deferred.load(path, nullptr, errors, SceneImage::kDeferLevels));
    EXPECT_EQ(deferred.mipLevelsBuilt(), 0);
    EXPECT_EQ(deferred.proxy().pixels[0], 128);
    ASSERT_TRUE(deferred.finishLevels(nullptr, errors));
    EXPECT_GT(deferred.mipLevelsBuilt(), 0);
    bool locked = false;
    PictureAccess kind = PictureAccess::Full;
    EXPECT_EQ(deferred.getImage(0, &locked, &kind).pixels[0], 128);
    deferred.releaseImage();

    // The built-in picture is shared between scenes; preparing one must not change another.
    SceneImage plain;
    SceneImage darkened;
    darkened.prepSettings().setBrightness(-100.0f);
    ASSERT_TRUE(darkened.applyPreparation(nullptr, errors));
    EXPECT_EQ(plain.getImage(0, &locked, nullptr).pixels[2], DefaultPicture::image().pixels[2]);
    plain.releaseImage();
}

// A JPEG's levels and proxy are made while it is decoded; they must be those made afterwards
// from the whole picture.
TEST(SceneImageTest, LevelsMadeDuringDecodingEqualThoseMadeAfterwards) {
    test::TempFolder folder;
    const std::string path = folder.file("photo.jpg");
    test::writeFile(path, test::encodePicture(
                              1501, 999, 24, FIF_JPEG,
                              [](int x, int y) {
                                  return test::gradient(x, y) ^
                                         static_cast<std::uint32_t>((x * 31 + y * 17) & 0x3F3F3F);
                              },
                              JPEG_QUALITYGOOD));
    ImageBuffer decoded;
    ASSERT_TRUE(ImageDecoder::decodeFile(path, &decoded).ok());
    struct Prep {
        const char* name;
        float gamma, brightness, contrast;
        bool autoLevels;
    };
    for (const Prep p :
         {Prep{"none", 1.0f, 0.0f, 0.0f, false}, Prep{"curve", 1.3f, 12.0f, 25.0f, false},
          Prep{"auto levels", 1.0f, -10.0f, 0.0f, true}}) {
        SCOPED_TRACE(p.name);
        auto prepare = [&](SceneImage& image) {
            image.prepSettings().setGamma(p.gamma);
            image.prepSettings().setBrightness(p.brightness);
            image.prepSettings().setContrast(p.contrast);
            image.prepSettings().setAutoLevels(p.autoLevels);
        };
        SceneImage streamed;
        SceneImage afterwards;
        prepare(streamed);
        prepare(afterwards);
        ErrorInfo errors;
        ASSERT_TRUE(streamed.load(path, nullptr, errors));
        ASSERT_TRUE(afterwards.loadFromPixels("[photo.jpg]", decoded, false, nullptr, errors));
        ASSERT_EQ(streamed.mipLevelsBuilt(), 7);
        ASSERT_EQ(afterwards.mipLevelsBuilt(), 7);
        EXPECT_EQ(streamed.isPrepared(), p.name != std::string("none"));
        auto same = [](const ImageBuffer& a, const ImageBuffer& b) {
            if (a.width != b.width || a.height != b.height) {
                return false;
            }
            for (std::uint32_t y = 0; y < a.height; ++y) {
                if (std::memcmp(a.row(y), b.row(y), std::size_t{a.width} * 4) != 0) {
                    return false;
                }
            }
            return true;
        };
        for (int level = 0; level <= 7; ++level) {
            bool locked = false;
            PictureAccess kind = PictureAccess::Full;
            const ImageBuffer a = streamed.getImage(level, &locked, &kind);
            const ImageBuffer b = afterwards.getImage(level, &locked, &kind);
            EXPECT_TRUE(same(a, b)) << "level " << level;
            streamed.releaseImage();
            afterwards.releaseImage();
        }
        EXPECT_TRUE(same(streamed.proxy(), afterwards.proxy()));
    }
}

TEST(SceneImageTest, HeldPicturesLoadFromMemoryAndReloadAfterUnload) {
    const auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        test::encodePicture(320, 240, 24, FIF_PNG, test::gradient));
    SceneImage image;
    ErrorInfo errors;
    ASSERT_TRUE(image.loadFromMemory("[3]holiday.png", bytes, nullptr, errors));
    EXPECT_EQ(image.width(), 320);
    EXPECT_TRUE(image.load("[3]holiday.png", nullptr, errors));
    image.unload();
    ASSERT_TRUE(image.ensureLoaded());
    EXPECT_EQ(image.width(), 320);

    SceneImage copy;
    ASSERT_TRUE(copy.copyFrom(image, nullptr, errors));
    EXPECT_EQ(copy.path(), "[3]holiday.png");
    EXPECT_EQ(copy.mipLevelsBuilt(), image.mipLevelsBuilt());
    EXPECT_TRUE(copy.isLoaded());

    const auto junk = std::make_shared<const std::vector<std::uint8_t>>(10, std::uint8_t{7});
    EXPECT_FALSE(image.loadFromMemory("[4]broken.jpg", junk, nullptr, errors));
    EXPECT_EQ(errors.code(), 6204u);
}

class CountingLoader : public PictureLoader {
public:
    bool loadNow(SceneImage& image) override {
        ++calls;
        ErrorInfo errors;
        return image.reload(nullptr, errors);
    }
    int calls = 0;
};

TEST(SceneImageTest, EnsureLoadedGoesThroughTheCache) {
    test::TempFolder folder;
    SceneImage image;
    CountingLoader loader;
    image.setLoader(&loader);
    ErrorInfo errors;
    ASSERT_TRUE(image.load(pictureFile(folder, "c.png", 200, 200), nullptr, errors));
    EXPECT_TRUE(image.ensureLoaded());
    EXPECT_EQ(loader.calls, 0);
    image.unload();
    EXPECT_TRUE(image.ensureLoaded());
    EXPECT_EQ(loader.calls, 1);
    EXPECT_TRUE(image.isLoaded());
}

class RefreshCounter : public HostHooks {
public:
    void requestPreviewRefresh() override { ++refreshes; }
    int refreshes = 0;
};

class ScenePicturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context.initialise(false));
        installScenePictures(context);
        context.setHooks(&hooks);
    }
    ProjectContext context;
    RefreshCounter hooks;
    test::TempFolder folder;
};

TEST_F(ScenePicturesTest, AddingSceneFromFile) {
    const std::string path = pictureFile(folder, "scene.png", 640, 480);
    const int id = context.project().insertSceneAt(0, path, 27'000'000 * 3);
    ASSERT_GE(id, 0);
    Scene* scene = context.project().sceneById(id);
    EXPECT_EQ(scene->picture().width(), 640);
    EXPECT_EQ(scene->picture().path(), path);
    EXPECT_NE(dynamic_cast<SceneImage*>(&scene->picture()), nullptr);
    EXPECT_EQ(context.project().table()[0].memoryEstimate, 4 * 200 * 150 + 5000 + 8LL * 640 * 480);
    EXPECT_EQ(hooks.refreshes, 1);

    // No refresh while an export runs.
    context.project().setExportState(1);
    ASSERT_GE(context.project().addScene(path, 27'000'000 * 3, 27'000'000), 0);
    EXPECT_EQ(hooks.refreshes, 1);
}

TEST_F(ScenePicturesTest, BadFilesAreNotAdded) {
    const std::string words = folder.file("words.jpg");
    test::writeFile(words, {'n', 'o'});
    const std::string small = pictureFile(folder, "small.png", 99, 100);
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const Case& c : {Case{words, strings::format(6204, {textArg(words)})},
                          Case{small, strings::format(6210, {textArg(100), textArg(100),
                                                             textArg(25000), textArg(25000)})}}) {
        SCOPED_TRACE(c.path);
        context.errors().clear();
        EXPECT_EQ(context.project().insertSceneAt(0, c.path, 27'000'000), -1);
        EXPECT_EQ(context.errors().code(), 6220u);
        const std::string text = context.errors().text();
        EXPECT_NE(text.find(strings::format(6220, {textArg(c.path)})), std::string::npos);
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(context.project().sceneCount(), 0);
    }
}

TEST_F(ScenePicturesTest, MemoryLimitReducesAndSwitchingItOffRestores) {
    context.project().setImageMemory({true, 8});
    // 2100 × 2000 counts 16 MB: reduced by 1 / sqrt(2) to 1484 × 1414, which counts 8 MB.
    const std::string path = pictureFile(folder, "big.png", 2100, 2000);
    const int id = context.project().insertSceneAt(0, path, 27'000'000);
    ASSERT_GE(id, 0);
    ScenePicture& picture = context.project().sceneById(id)->picture();
    EXPECT_EQ(picture.width(), 1484);
    EXPECT_EQ(picture.height(), 1414);
    EXPECT_EQ(picture.decodedWidth(), 2100);
    const int refreshes = hooks.refreshes;
    EXPECT_TRUE(picture.load(path, nullptr, context.errors()));
    EXPECT_EQ(hooks.refreshes, refreshes);  // already at the size the limit asks for

    applyImageMemory(context, {false, 8});
    EXPECT_EQ(picture.width(), 2100);
    EXPECT_EQ(hooks.refreshes, refreshes + 1);
}

TEST_F(ScenePicturesTest, NeededScaleAndSteadyZoomPolicy) {
    const std::string path = pictureFile(folder, "n.png", 800, 400);
    const int id = context.project().insertSceneAt(0, path, 27'000'000 * 4);
    Scene& scene = *context.project().sceneById(id);
    auto& image = dynamic_cast<SceneImage&>(scene.picture());
    KeyframeDesc key;
    key.mask = KF_VALUE | KF_TIME;
    key.value = 1.0f;
    scene.setKeyAtTime(Scale, 0.0f, key);
    // 720 output pixels; e = 1 × 800 / 400 over 800 picture pixels.
    EXPECT_FLOAT_EQ(image.neededScale(scene, 0.3f, true), 720.0f * 2.0f / 800.0f);
    EXPECT_FLOAT_EQ(image.neededScale(scene, 0.3f, false, 400), 400.0f * 2.0f / 800.0f);

    key.value = 1.2f;
    key.time = 1.0f;
    ASSERT_EQ(scene.setKeyAtTime(Scale, 1.0f, key), 2);
    // Steady zoom: the level of the middle of the scene, whatever the frame asks.
    const int middle = image.chooseLevel(image.neededScale(scene, 0.5f, true));
    EXPECT_EQ(image.levelForRendering(scene, 0.05, true), middle);
    key.value = 3.0f;
    ASSERT_EQ(scene.setKeyAtTime(Scale, 1.0f, key), 1);
    EXPECT_EQ(image.levelForRendering(scene, 0.05, true), image.chooseLevel(0.05));
    EXPECT_NE(image.chooseLevel(0.05), middle);
}

}  // namespace
}  // namespace pm

namespace pm {
namespace {

TEST(SceneImageTest, ResamplingOnTwoProcessorsMatchesOnePass) {
    std::mt19937 rng(11);
    struct Case {
        int sw, sh, dw, dh;
        bool white;
    };
    // Mip steps, prime sizes, a proxy, an enlargement, widths that leave a remainder of pixels,
    // white, where the sums are largest, and the largest divisor the narrow sums take in
    // single precision (91 × 90 after the common factors).
    const Case cases[] = {{900, 1000, 630, 700, false},   {1372, 1372, 960, 960, false},
                          {1009, 997, 701, 613, false},   {800, 1200, 200, 300, false},
                          {1203, 811, 200, 134, false},   {150, 100, 200, 133, false},
                          {7, 530, 5, 371, false},        {2999, 2001, 2099, 1400, true},
                          {3000, 2000, 2100, 1400, true}, {910, 900, 900, 890, false},
                          {910, 900, 900, 890, true}};
    // Forced levels 0 (plain code), 1 (128-bit routines) and the widest the processor has; two
    // processors whatever the machine has, so that the rows are split.
    for (const std::uint32_t level : {std::uint32_t{5}, std::uint32_t{2}, std::uint32_t{1}}) {
        PerfKit::initialise(std::uint32_t{2} << 8 | level);
        ASSERT_EQ(PerfKit::processorCount(), 2);
        for (const Case c : cases) {
            ImageBuffer source;
            ASSERT_EQ(PerfKit::allocate(&source, PixelFormat::Bgra32, c.sw, c.sh), PixelStatus::Ok);
            for (std::uint32_t y = 0; y < source.height; ++y) {
                for (std::int32_t i = 0; i < source.pitch; ++i) {
                    source.row(y)[i] = c.white ? 255 : static_cast<std::uint8_t>(rng());
                }
            }
            ImageBuffer whole;
            ImageBuffer banded;
            ASSERT_EQ(PerfKit::allocate(&whole, PixelFormat::Bgra32, c.dw, c.dh), PixelStatus::Ok);
            ASSERT_EQ(PerfKit::allocate(&banded, PixelFormat::Bgra32, c.dw, c.dh), PixelStatus::Ok);
            ASSERT_EQ(PerfKit::copy(whole, source), PixelStatus::Ok);
            ASSERT_EQ(SceneImage::resample(banded, source), PixelStatus::Ok);
            for (std::uint32_t y = 0; y < whole.height; ++y) {
                ASSERT_EQ(std::memcmp(whole.row(y), banded.row(y), 4u * whole.width), 0)
                    << c.sw << "x" << c.sh << " row " << y << " level " << level;
            }
        }
    }
    PerfKit::initialise(std::nullopt);
}

}  // namespace
}  // namespace pm
