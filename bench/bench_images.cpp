// Loading a 6000 × 4000 JPEG as a scene picture (decode, level 0, eleven levels, proxy), with
// and without preparation, beside FreeImage's bare decode of the same file in the same run.
// Counters: x_bare (our load over the bare decode; goal 1.3 or less), x_bare_cpu (the processor
// time of all threads over the bare decode's, steadier on a shared machine) and, from a child
// process per case, peak_MB (the load's resident high-water mark over the process before it),
// resident_MB (what stays resident once loaded) and x_level0 (peak over the 96 MB of a 32-bit
// level 0; goal 1.6 or less).
#include <FreeImage.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/ErrorInfo.h"
#include "render/SceneImage.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr double kLevel0Bytes = 4.0 * kWidth * kHeight;

double g_bareSeconds = 0.0;
double g_bareProcessorSeconds = 0.0;

// Processor time of every thread of the process: on a shared machine the wall time of a load
// that runs on two threads says more about the neighbours than about the load.
double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A photograph-like picture: smooth gradients with fine noise, so the JPEG has realistic size.
const std::string& pictureFile() {
    static const std::string path = [] {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                             ("pictomove-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        const std::string file = (folder / "big.jpg").string();
        FIBITMAP* dib = FreeImage_Allocate(kWidth, kHeight, 24);
        std::mt19937 rng(5);
        for (int y = 0; y < kHeight; ++y) {
            BYTE* row = FreeImage_GetScanLine(dib, y);
            for (int x = 0; x < kWidth; ++x) {
                const int n = static_cast<int>(rng() % 24);
                row[3 * x + 0] = static_cast<BYTE>((x / 24 + n) & 255);
                row[3 * x + 1] = static_cast<BYTE>((y / 16 + n) & 255);
                row[3 * x + 2] = static_cast<BYTE>(((x + y) / 40 + n) & 255);
            }
        }
        FreeImage_Save(FIF_JPEG, dib, file.c_str(), JPEG_QUALITYGOOD);
        FreeImage_Unload(dib);
        return file;
    }();
    return path;
}

void removePicture() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(pictureFile()).parent_path(), ec);
}

bool loadPicture(bool prepared) {
    pm::SceneImage image;
    if (prepared) {
        image.prepSettings().setContrast(20.0f);
        image.prepSettings().setBrightness(10.0f);
        image.prepSettings().setAutoLevels(true);
    }
    pm::ErrorInfo errors;
    return image.load(pictureFile(), nullptr, errors) && image.mipLevelsBuilt() == 11;
}

long statusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::strlen(field)));
        }
    }
    return -1;
}

struct Memory {
    double peakBytes = 0.0;
    double residentBytes = 0.0;
};

// Runs one load in a child process and reads its resident high-water mark, reset just before.
// Pictures this process generated are freed by then; their memory went back to the system.
Memory measure(bool prepared, bool bare) {
    int fds[2];
    Memory m;
    if (pipe(fds) != 0) {
        return m;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        // Memory the parent freed but kept would otherwise be reused without counting.
        malloc_trim(0);
        const long before = statusKilobytes("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";
        Memory out;
        if (bare) {
            FIBITMAP* dib = FreeImage_Load(FIF_JPEG, pictureFile().c_str(), JPEG_ACCURATE);
            out.residentBytes = 1024.0 * (statusKilobytes("VmRSS:") - before);
            FreeImage_Unload(dib);
        } else {
            pm::SceneImage image;
            if (prepared) {
                image.prepSettings().setContrast(20.0f);
            }
            pm::ErrorInfo errors;
            image.load(pictureFile(), nullptr, errors);
            out.residentBytes = 1024.0 * (statusKilobytes("VmRSS:") - before);
        }
        out.peakBytes = 1024.0 * (statusKilobytes("VmHWM:") - before);
        const ssize_t written = write(fds[1], &out, sizeof out);
        _exit(written == sizeof out ? 0 : 1);
    }
    close(fds[1]);
    if (read(fds[0], &m, sizeof m) != sizeof m) {
        m = {};
    }
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return m;
}

// The three measurements (bare, plain load, prepared load), each in a child forked before this
// process loaded anything: memory this process freed but kept (a thread's heap) would
// otherwise be reused by the child without counting.
const Memory& measured(bool prepared, bool bare) {
    static const std::array<Memory, 3> all = [] {
        return std::array<Memory, 3>{measure(false, true), measure(false, false),
                                     measure(true, false)};
    }();
    return all[bare ? 0 : prepared ? 2 : 1];
}

void BM_BareDecode(benchmark::State& state) {
    pictureFile();
    measured(false, true);
    double seconds = 0.0;
    double processor = 0.0;
    for (auto _ : state) {
        const double startProcessor = processorSeconds();
        const auto start = std::chrono::steady_clock::now();
        FIBITMAP* dib = FreeImage_Load(FIF_JPEG, pictureFile().c_str(), JPEG_ACCURATE);
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        processor += processorSeconds() - startProcessor;
    }
    g_bareSeconds = seconds / static_cast<double>(state.iterations());
    g_bareProcessorSeconds = processor / static_cast<double>(state.iterations());
    const Memory& m = measured(false, true);
    state.counters["peak_MB"] = m.peakBytes / 1e6;
    state.counters["resident_MB"] = m.residentBytes / 1e6;
}
BENCHMARK(BM_BareDecode)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SceneLoad(benchmark::State& state) {
    const bool prepared = state.range(0) != 0;
    measured(prepared, false);
    double seconds = 0.0;
    double processor = 0.0;
    for (auto _ : state) {
        const double startProcessor = processorSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (!loadPicture(prepared)) {
            state.SkipWithError("the picture did not load with all its levels");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        processor += processorSeconds() - startProcessor;
    }
    const double perLoad = seconds / static_cast<double>(state.iterations());
    if (g_bareSeconds > 0.0) {
        state.counters["x_bare"] = perLoad / g_bareSeconds;
        state.counters["x_bare_cpu"] =
            processor / static_cast<double>(state.iterations()) / g_bareProcessorSeconds;
    }
    const Memory& m = measured(prepared, false);
    state.counters["peak_MB"] = m.peakBytes / 1e6;
    state.counters["resident_MB"] = m.residentBytes / 1e6;
    state.counters["x_level0"] = m.peakBytes / kLevel0Bytes;
    if (prepared) {
        removePicture();
    }
}
BENCHMARK(BM_SceneLoad)
    ->ArgName("prepared")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
