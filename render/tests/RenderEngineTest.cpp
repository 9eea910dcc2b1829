#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ProjectContext.h"
#include "render/ImageCache.h"
#include "render/PerfKit.h"
#include "render/PictureInsertion.h"
#include "render/ProjectCacheOwner.h"
#include "render/ProjectRenderer.h"
#include "render/RenderEntry.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/SceneRenderer.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 72;

struct Frame {
    ImageBuffer image;
    Frame() {
        EXPECT_EQ(PerfKit::allocate(&image, PixelFormat::Bgra32, kWidth, kHeight), PixelStatus::Ok);
    }
    ~Frame() { PerfKit::free(&image); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            out.insert(out.end(), image.row(y), image.row(y) + image.width * 4);
        }
        return out;
    }
};

// A project of scenes whose 640 x 480 pictures count 2 MB each in the cache.
class RenderEngineTest : public ::testing::Test {
protected:
    static constexpr int kScenes = 5;
    test::TempFolder folder;
    ProjectContext context;
    std::vector<std::string> paths;

    void SetUp() override {
        ASSERT_TRUE(context.initialise(false));
        installScenePictures(context);
        context.project().setVAspRatio(4.0 / 3.0);
        for (int i = 0; i < kScenes; ++i) {
            paths.push_back(folder.file("scene" + std::to_string(i) + ".png"));
            const int seed = i * 40;
            test::writeFile(
                paths.back(), test::encodePicture(640, 480, 24, FIF_PNG, [seed](int x, int y) {
                    return test::bgra((x + seed) & 255, (y * 3 + seed) & 255, (x ^ y) & 255);
                }));
        }
    }

    int add(const std::string& path, double start, double length) {
        const int id =
            context.project().addScene(path, secondsToTicks(start), secondsToTicks(length));
        EXPECT_GE(id, 0) << context.errors().text();
        return id;
    }

    void addAll() {
        for (int i = 0; i < kScenes; ++i) {
            add(paths[static_cast<std::size_t>(i)], 1.5 * i, 2.0);
        }
    }

    std::int64_t loadedMegabytes(const ProjectCacheOwner& owner) const {
        std::int64_t total = 0;
        for (int i = 0; i < owner.count(); ++i) {
            const int key = owner.keyAt(i);
            if (owner.isLoaded(key)) {
                total += owner.size(key) >> 20;
            }
        }
        return total;
    }
};

// Forty pictures added at once under a budget of four: only their sizes and proxies are read,
// and the cache's own count never goes past its budget by more than the picture just added.
TEST_F(RenderEngineTest, PicturesAddedTogetherStayWithinTheBudget) {
    ProjectCacheOwner owner(context);
    ImageCache cache(owner);
    owner.attach(&cache);
    constexpr int kBudget = 9;
    cache.setBudget(kBudget);
    cache.setPrefetchEnabled(false);
    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i) {
        many.push_back(paths[static_cast<std::size_t>(i) % paths.size()]);
    }
    std::int64_t most = 0;
    std::int64_t perPicture = 0;
    int order = 0;
    const int added =
        appendPictures(context, many, secondsToTicks(2.0), nullptr, [&](const InsertedPicture& p) {
            ASSERT_GE(p.sceneId, 0) << p.problem;
            EXPECT_EQ(context.project().indexOf(p.sceneId), order++);
            perPicture = owner.size(p.sceneId) >> 20;
            most = std::max(most, loadedMegabytes(owner));
        });
    ASSERT_EQ(added, 40);
    EXPECT_GT(perPicture, 0);
    EXPECT_LE(most, kBudget + perPicture);
    EXPECT_LE(cache.countedMegabytes(), kBudget + perPicture);
    for (int i = 0; i < 40; ++i) {
        const ScenePicture& picture = context.project().sceneAt(i)->picture();
        EXPECT_EQ(picture.path(), many[static_cast<std::size_t>(i)]);
        EXPECT_EQ(picture.width(), 640);
    }
    // Scenes added one by one load their full pictures, which the cache then counts.
    for (int i = 0; i < 10; ++i) {
        ASSERT_GE(context.project().insertSceneAt(context.project().projectLength(),
                                                  paths[static_cast<std::size_t>(i % 5)],
                                                  secondsToTicks(2.0)),
                  0);
        EXPECT_LE(loadedMegabytes(owner), kBudget + perPicture) << i;
    }
    EXPECT_TRUE(owner.isLoaded(context.project().idAt(49)));
    owner.attach(nullptr);
}

TEST_F(RenderEngineTest, ASmallBudgetGivesTheSameFramesWithinItsMemory) {
    addAll();
    const TickTime length = context.project().projectLength();
    const TickTime step = kTicksPerSecond / 8;
    ProjectRenderer renderer(context);

    std::vector<std::vector<std::uint8_t>> reference;
    for (TickTime t = 0; t < length; t += step) {
        Frame frame;
        EXPECT_EQ(renderer.renderFrame(static_cast<double>(t) / static_cast<double>(length),
                                       frame.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
                  RenderQuality::Full);
        reference.push_back(frame.bytes());
    }

    // An export (the cache cut to loads on demand), then playback with loading ahead.
    for (const bool exporting : {true, false}) {
        SCOPED_TRACE(exporting ? "export" : "playback");
        ProjectCacheOwner owner(context);
        ImageCache cache(owner);
        owner.attach(&cache);
        constexpr int kBudget = 9;  // four pictures
        for (int i = 0; i < kScenes; ++i) {
            context.project().sceneAt(i)->picture().unload();
        }
        cache.setBudget(kBudget);
        context.project().setExportState(exporting ? 1 : 0);
        if (!exporting) {
            cache.preloadAll(nullptr);
        }
        // Forward, then back again: the first scenes were evicted on the way and come back.
        std::vector<std::size_t> order(reference.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        order.insert(order.end(), order.rbegin(), order.rend());
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::size_t n = order[k];
            const TickTime t = static_cast<TickTime>(n) * step;
            if (k == reference.size()) {
                EXPECT_FALSE(owner.isLoaded(context.project().idAt(0)));
            }
            Frame frame;
            RenderQuality quality = RenderQuality::Failed;
            if (exporting) {
                RenderRequest request;
                request.time = t;
                request.rangeLength = length;
                request.target = frame.image;
                quality = renderForRequest(renderer, request, PictureAccess::Full);
            } else {
                // Playback moves the project's cursor with the frames.
                const double time = static_cast<double>(t) / static_cast<double>(length);
                context.project().setCursor(static_cast<float>(time));
                quality = renderAt(renderer, &cache, time, frame.image, FieldMode::Frame, 1.0f,
                                   PictureAccess::Full);
            }
            EXPECT_EQ(quality, RenderQuality::Full) << "frame " << n;
            EXPECT_EQ(frame.bytes(), reference[n]) << "frame " << n;
            EXPECT_LE(loadedMegabytes(owner), kBudget) << "frame " << n;
            EXPECT_LE(cache.countedMegabytes(), kBudget) << "frame " << n;
        }
        cache.unloadAll();
        if (!exporting) {
            // Going forward, every scene after the preloaded ones was prepared ahead of its
            // frames; only going back may need a picture on the spot.
            EXPECT_GT(cache.stats().loadedInBackground, 0);
        }
        context.project().setExportState(0);
        context.project().setCursor(0.0f);
        owner.attach(nullptr);
    }
}

TEST_F(RenderEngineTest, TheSceneOnScreenStaysWhenRoomIsMade) {
    addAll();
    ProjectCacheOwner owner(context);
    ImageCache cache(owner);
    owner.attach(&cache);
    // Scene 0 is on screen (the cursor is at 0) and the least recently used of all.
    const int first = context.project().idAt(0);
    cache.setBudget(1000);
    for (int i = kScenes - 1; i > 0; --i) {
        cache.ensureLoaded(context.project().idAt(i));
    }
    cache.setBudget(5);
    EXPECT_TRUE(owner.isLoaded(first));
    for (int i = 1; i < kScenes; ++i) {
        EXPECT_TRUE(cache.ensureLoaded(context.project().idAt(i)));
        EXPECT_TRUE(owner.isLoaded(first)) << "after scene " << i;
    }
    // During an export nothing on screen needs keeping.
    context.project().setExportState(1);
    cache.setBudget(4);
    EXPECT_FALSE(owner.isLoaded(first));
    context.project().setExportState(0);
    owner.attach(nullptr);
}

TEST_F(RenderEngineTest, SelectingASceneLoadsItThroughTheCache) {
    addAll();
    ProjectCacheOwner owner(context);
    ImageCache cache(owner);
    owner.attach(&cache);
    for (int i = 0; i < kScenes; ++i) {
        context.project().sceneAt(i)->picture().unload();
    }
    cache.setPrefetchEnabled(true);
    const int third = context.project().idAt(2);
    context.project().selectScene(third);
    EXPECT_TRUE(owner.isLoaded(third));
    EXPECT_EQ(cache.recentKeys().front(), third);
    cache.unloadAll();
    // The next scene was prepared in the background.
    EXPECT_TRUE(owner.isLoaded(context.project().idAt(3)));
    owner.attach(nullptr);
}

// The loader thread finds scenes in the table and loads their pictures while the user deletes
// them: a deletion waits for a load of that scene, and the table never moves under the loader.
TEST_F(RenderEngineTest, ScenesDeletedWhileTheLoaderWorksOnThem) {
    ProjectCacheOwner owner(context);
    ImageCache cache(owner);
    owner.attach(&cache);
    for (int round = 0; round < 6; ++round) {
        addAll();
        Project& project = context.project();
        for (int i = 0; i < project.sceneCount(); ++i) {
            project.sceneAt(i)->picture().unload();
        }
        while (project.sceneCount() > 1) {
            const int index = project.sceneCount() - 1;
            cache.loadInBackground(project.idAt(index), 0);
            // Give the loader a head start on every other round, so both orders happen.
            if (round % 2 == 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ASSERT_TRUE(project.deleteScene(index, false));
            EXPECT_EQ(project.indexOf(project.idAt(index - 1)), index - 1);
        }
        cache.loadInBackground(project.idAt(0), 0);
        project.reset();
        cache.unloadAll();
        EXPECT_EQ(project.sceneCount(), 0);
    }
    owner.attach(nullptr);
}

// Edits replace the picture (landscape and portrait, so the tilted mesh changes too) and reload
// it while a render thread draws: every frame is one of the two whole reference frames.
TEST_F(RenderEngineTest, EditsWaitAtTheGateForRendersInFlight) {
    const std::string portrait = folder.file("portrait.png");
    test::writeFile(portrait, test::encodePicture(360, 480, 24, FIF_PNG, test::gradient));
    const int id = add(paths[0], 0, 4);
    Scene& scene = *context.project().sceneById(id);
    KeyframeDesc tilt;
    tilt.value = 0.35f;
    tilt.time = 0.0f;
    tilt.mask = KF_VALUE | KF_TIME;
    ASSERT_NE(scene.setKeyAtTime(CamAngleA, 0.0f, tilt), 0);

    // The preview's access: a picture caught in the middle of a change would give its proxy.
    SceneRenderer renderer(scene);
    const auto render = [&](Frame& frame) {
        return renderer.renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f,
                                    PictureAccess::AsLoaded);
    };
    Frame landscapeFrame;
    Frame portraitFrame;
    ASSERT_EQ(render(landscapeFrame), RenderQuality::Full);
    ASSERT_TRUE(context.project().replacePicture(id, portrait));
    ASSERT_EQ(render(portraitFrame), RenderQuality::Full);
    const auto landscape = landscapeFrame.bytes();
    const auto upright = portraitFrame.bytes();
    ASSERT_NE(landscape, upright);

    std::atomic<bool> editing{true};
    std::atomic<int> wrong{0};
    std::atomic<int> frames{0};
    std::thread renderThread([&] {
        Frame frame;
        while (editing || frames < 20) {
            const RenderQuality quality = render(frame);
            const auto bytes = frame.bytes();
            if (quality != RenderQuality::Full || (bytes != landscape && bytes != upright)) {
                ++wrong;
            }
            ++frames;
        }
    });
    auto* image = dynamic_cast<SceneImage*>(&scene.picture());
    ASSERT_NE(image, nullptr);
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(context.project().replacePicture(id, i % 2 == 0 ? paths[0] : portrait));
        RendererGate::EditGuard edit(scene.rendererGate());
        EXPECT_TRUE(image->reload(nullptr, context.errors()));
    }
    editing = false;
    renderThread.join();
    EXPECT_EQ(wrong, 0) << "of " << frames << " frames";
    EXPECT_GE(frames, 20);
}

}  // namespace
}  // namespace pm
