// Playback of a 20-scene project whose 20 different 6000 x 4000 pictures do not fit the picture
// cache: every frame at 1920 x 1080, 30 frames per second of project time, with a budget that
// holds four pictures. Each frame must be drawn from the full picture (as an export would), while
// the cache loads the next scene in the background. Reports frames per second, the peak resident
// memory, and how many frames waited for a picture: for a background decode already running, or
// for a decode started only when the frame needed it (one that could have started earlier).
#include <FreeImage.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/ProjectContext.h"
#include "render/ImageCache.h"
#include "render/PerfKit.h"
#include "render/ProjectCacheOwner.h"
#include "render/ProjectRenderer.h"
#include "render/RenderEntry.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"

namespace {

using namespace pm;

constexpr int kScenes = 20;
constexpr int kPictureWidth = 6000;
constexpr int kPictureHeight = 4000;
constexpr double kSceneSeconds = 2.0;
constexpr double kOverlapSeconds = 0.5;

// The pictures are made once and kept in the temporary folder for later runs.
std::string picturePath(int i) {
    const auto folder = std::filesystem::temp_directory_path() / "pictomove-bench-cache";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / ("scene" + std::to_string(i) + ".jpg")).string();
    if (std::filesystem::exists(path)) {
        return path;
    }
    FIBITMAP* dib = FreeImage_Allocate(kPictureWidth, kPictureHeight, 24);
    for (int y = 0; y < kPictureHeight; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < kPictureWidth; ++x) {
            row[3 * x] = static_cast<BYTE>((x / 8 + i * 37) & 255);
            row[3 * x + 1] = static_cast<BYTE>((y / 8 + i * 11) & 255);
            row[3 * x + 2] = static_cast<BYTE>(((x ^ y) / 16 + i * 53) & 255);
        }
    }
    const std::string partial = path + ".part";
    FreeImage_Save(FIF_JPEG, dib, partial.c_str(), JPEG_QUALITYNORMAL);
    FreeImage_Unload(dib);
    std::filesystem::rename(partial, path);
    return path;
}

long peakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void BM_PlaybackWithFourPicturesInMemory(benchmark::State& state) {
    ProjectContext context;
    context.initialise(false);
    installScenePictures(context);
    Project& project = context.project();
    project.setVAspRatio(16.0 / 9.0);
    project.setAssumedWidth(1920);
    ImageBuffer proxy;
    PerfKit::allocate(&proxy, PixelFormat::Bgra32, 200, 133);
    PerfKit::fill(proxy, 0xFF808080u, 1);
    for (int i = 0; i < kScenes; ++i) {
        const int id = project.addScene({}, secondsToTicks(i * (kSceneSeconds - kOverlapSeconds)),
                                        secondsToTicks(kSceneSeconds));
        // Shown by its proxy until the cache decodes it.
        auto* image = dynamic_cast<SceneImage*>(&project.sceneById(id)->picture());
        image->adoptDeferred(picturePath(i), nullptr, kPictureWidth, kPictureHeight, false, proxy);
        project.updateMemoryEstimate(id);
    }
    PerfKit::free(&proxy);

    ProjectCacheOwner owner(context);
    ImageCache cache(owner);
    owner.attach(&cache);
    const auto pictureMegabytes = owner.size(project.idAt(0)) >> 20;
    cache.setBudget(static_cast<int>(4 * pictureMegabytes + 1));
    cache.preloadAll(nullptr);

    ImageBuffer frame;
    PerfKit::allocate(&frame, PixelFormat::Bgra32, 1920, 1080);
    ProjectRenderer renderer(context);
    const TickTime length = project.projectLength();
    const TickTime step = kTicksPerSecond / 30;
    int frames = 0;
    int waitedForBackground = 0;
    int decodedOnTheSpot = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (TickTime t = 0; t < length; t += step) {
            const double time = static_cast<double>(t) / static_cast<double>(length);
            // Playback moves the project's cursor: the scene on screen is kept in memory.
            project.setCursor(static_cast<float>(time));
            const ImageCache::Stats before = cache.stats();
            benchmark::DoNotOptimize(renderAt(renderer, &cache, time, frame, FieldMode::Frame, 1.0f,
                                              PictureAccess::Full));
            const ImageCache::Stats after = cache.stats();
            waitedForBackground += after.waitedForBackground > before.waitedForBackground ? 1 : 0;
            decodedOnTheSpot += after.loadedOnTheSpot > before.loadedOnTheSpot ? 1 : 0;
            ++frames;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    cache.unloadAll();
    const ImageCache::Stats stats = cache.stats();
    state.counters["frames"] = frames;
    state.counters["fps"] = frames / seconds;
    state.counters["peak_MB"] = static_cast<double>(peakResidentKilobytes()) / 1024.0;
    state.counters["budget_MB"] = cache.budget();
    state.counters["waited_bg"] = waitedForBackground;
    state.counters["decoded_on_spot"] = decodedOnTheSpot;
    state.counters["bg_loads"] = stats.loadedInBackground;
    PerfKit::free(&frame);
    owner.attach(nullptr);
}
BENCHMARK(BM_PlaybackWithFourPicturesInMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
