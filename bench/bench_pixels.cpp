// Every pixel routine on a 1920 × 1080 frame, plain, with 128-bit vectors and with the processor's
// best vectors, beside a memcpy of the same frame measured in the same run. Counters: Mpix/s and
// x_memcpy (time per frame over memcpy's time per frame; the goal for conversions, fills and
// mixes is 2 or less),
// each from caches emptied first and, with the suffix _warm, from caches holding the frames.
// The blur of radius 36 reports frames per second on one core (goal: 30 or more).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "render/BlurFilter.h"
#include "render/PerfKit.h"
#include "render/detail/ImageOps.h"
#include "render/detail/KernelSet.h"

namespace {

using pm::CodePath;
using pm::ImageBuffer;
using pm::PixelFormat;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kPixels = double(kWidth) * kHeight;

ImageBuffer frame(PixelFormat format, int width = kWidth, int height = kHeight) {
    ImageBuffer b;
    pm::PerfKit::allocate(&b, format, width, height);
    std::mt19937 rng(7);
    for (std::uint32_t y = 0; y < b.height; ++y) {
        for (std::int32_t i = 0; i < b.pitch; ++i) {
            b.row(y)[i] = static_cast<std::uint8_t>(rng());
        }
    }
    return b;
}

// The reference: a memcpy of one 32-bit frame (8 MB). An 8 MB copy repeated back to back runs
// from the 32 MB last-level cache and would flatter memcpy against routines whose frames arrive
// from memory, so every run, reference and routine alike, is timed twice in turn: first after the
// caches were emptied by reading a buffer twice their size ("cold", as a frame fresh from a
// decoder or renderer arrives), then at once again with its data still cached ("warm"). Both
// ratios compare runs in the same state, taken in the same iteration, so load from other
// processes on the machine falls on both sides alike.
struct Timings {
    double cold = 0;
    double warm = 0;
};

std::uint64_t evictCaches() {
    static std::vector<std::uint64_t> flood(std::size_t{64} << 20 >> 3, 1);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < flood.size(); i += 8) {
        sum += flood[i];
    }
    benchmark::DoNotOptimize(sum);
    return sum;
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Timings timeTwice(const std::function<void()>& work) {
    evictCaches();
    Timings t;
    t.cold = seconds(work);
    t.warm = seconds(work);
    return t;
}

void measure(benchmark::State& state, const std::function<void()>& work) {
    static std::vector<std::uint8_t> a(static_cast<std::size_t>(kWidth) * kHeight * 4, 1);
    static std::vector<std::uint8_t> b(a.size(), 2);
    const auto copyFrame = [] {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
    };
    Timings reference;
    Timings routine;
    for (auto _ : state) {
        const Timings r = timeTwice(copyFrame);
        const Timings t = timeTwice(work);
        reference.cold += r.cold;
        reference.warm += r.warm;
        routine.cold += t.cold;
        routine.warm += t.warm;
        state.SetIterationTime(t.cold);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["Mpix/s"] = kPixels / (routine.cold / n) / 1e6;
    state.counters["x_memcpy"] = routine.cold / reference.cold;
    state.counters["Mpix/s_warm"] = kPixels / (routine.warm / n) / 1e6;
    state.counters["x_memcpy_warm"] = routine.warm / reference.warm;
    state.counters["fps_warm"] = n / routine.warm;
}

void add(const std::string& name, const std::function<void(benchmark::State&)>& body) {
    benchmark::RegisterBenchmark(name.c_str(), body)->MinTime(0.1)->UseManualTime();
}

const char* pathName(CodePath p) {
    return p == CodePath::Plain ? "plain" : (p == CodePath::Sse2 ? "sse2" : "avx2");
}

int registerAll() {
    add("memcpy", [](benchmark::State& state) {
        std::vector<std::uint8_t> a(static_cast<std::size_t>(kWidth) * kHeight * 4, 1);
        std::vector<std::uint8_t> b(a.size(), 2);
        measure(state, [&] {
            std::memcpy(b.data(), a.data(), a.size());
            benchmark::DoNotOptimize(b.data());
        });
    });
    const CodePath best = pm::PerfKit::codePathForLevel(4);
    using RT = pm::RoutineTable;
    struct Conversion {
        const char* name;
        PixelFormat from, to;
        pm::ConvertRoutine RT::*routine;
    };
    const Conversion conversions[] = {
        {"bgra32ToYuy2", PixelFormat::Bgra32, PixelFormat::Yuy2, &RT::bgra32ToYuy2},
        {"yuy2ToBgra32", PixelFormat::Yuy2, PixelFormat::Bgra32, &RT::yuy2ToBgra32},
        {"bgr24ToYuy2", PixelFormat::Bgr24, PixelFormat::Yuy2, &RT::bgr24ToYuy2},
        {"yuy2ToBgr24", PixelFormat::Yuy2, PixelFormat::Bgr24, &RT::yuy2ToBgr24},
        {"bgr24ToBgra32", PixelFormat::Bgr24, PixelFormat::Bgra32, &RT::bgr24ToBgra32},
        {"bgra32ToBgr24", PixelFormat::Bgra32, PixelFormat::Bgr24, &RT::bgra32ToBgr24},
        {"bgra32ToYuva32", PixelFormat::Bgra32, PixelFormat::Yuva32, &RT::bgra32ToYuva32},
        {"yuva32ToBgra32", PixelFormat::Yuva32, PixelFormat::Bgra32, &RT::yuva32ToBgra32},
        {"bgr24ToYuva32", PixelFormat::Bgr24, PixelFormat::Yuva32, &RT::bgr24ToYuva32},
        {"yuva32ToBgr24", PixelFormat::Yuva32, PixelFormat::Bgr24, &RT::yuva32ToBgr24},
        {"yuy2ToYuva32", PixelFormat::Yuy2, PixelFormat::Yuva32, &RT::yuy2ToYuva32},
        {"yuva32ToYuy2", PixelFormat::Yuva32, PixelFormat::Yuy2, &RT::yuva32ToYuy2},
    };
    std::vector<CodePath> paths = {CodePath::Plain, CodePath::Sse2};
    if (best != CodePath::Sse2) {
        paths.push_back(best);
    }
    for (const CodePath path : paths) {
        const pm::detail::KernelSet* k = &pm::detail::kernelsFor(path);
        const std::string suffix = std::string("/") + pathName(path);
        add(std::string("copyRows") + suffix, [k](benchmark::State& state) {
            const ImageBuffer src = frame(PixelFormat::Bgra32);
            const ImageBuffer dst = frame(PixelFormat::Bgra32);
            measure(state, [&] {
                k->routines.copyRows(kWidth * 4, kHeight, dst.pixels, dst.pitch, src.pixels,
                                     src.pitch);
            });
        });
        for (const Conversion& c : conversions) {
            add(c.name + suffix, [k, c](benchmark::State& state) {
                const ImageBuffer src = frame(c.from);
                const ImageBuffer dst = frame(c.to);
                measure(state, [&] {
                    (k->routines.*c.routine)(kWidth, kHeight, dst.pixels, dst.pitch, src.pixels,
                                             src.pitch);
                });
            });
        }
        for (const PixelFormat f :
             {PixelFormat::Yuva32, PixelFormat::Bgra32, PixelFormat::Yuy2, PixelFormat::Bgr24}) {
            const std::string name = "fill" + std::to_string(static_cast<int>(f));
            add(name + suffix, [k, f](benchmark::State& state) {
                const ImageBuffer dst = frame(f);
                measure(state, [&] { pm::detail::fillImage(*k, dst, 0x80402010u, 1); });
            });
            add("resample" + std::to_string(static_cast<int>(f)) + suffix,
                [k, f](benchmark::State& state) {
                    // One mip step down: 1920 × 1080 to 1344 × 756.
                    const ImageBuffer src = frame(f);
                    const ImageBuffer dst = frame(f, 1344, 756);
                    measure(state, [&] { pm::detail::copyImage(*k, dst, src); });
                });
        }
        add("mix" + suffix, [k](benchmark::State& state) {
            const ImageBuffer a = frame(PixelFormat::Bgra32);
            const ImageBuffer b = frame(PixelFormat::Bgra32);
            measure(state, [&] { pm::detail::mixImages(*k, a, a, b, 1234, false); });
        });
        add("mixAlpha" + suffix, [k](benchmark::State& state) {
            const ImageBuffer a = frame(PixelFormat::Bgra32);
            const ImageBuffer b = frame(PixelFormat::Bgra32);
            const ImageBuffer d = frame(PixelFormat::Bgra32);
            measure(state, [&] { pm::detail::mixImages(*k, d, a, b, 1234, true); });
        });
        add("composite" + suffix, [k](benchmark::State& state) {
            const ImageBuffer a = frame(PixelFormat::Bgra32);
            const ImageBuffer b = frame(PixelFormat::Bgra32);
            measure(state, [&] { pm::detail::compositeImages(*k, a, b, 1234); });
        });
        for (const bool keepAlpha : {false, true}) {
            add(std::string(keepAlpha ? "blur36KeepAlpha" : "blur36") + suffix,
                [path, keepAlpha](benchmark::State& state) {
                    const ImageBuffer img = frame(PixelFormat::Bgra32);
                    pm::BlurFilter filter(path);
                    filter.setRadius(36.0);  // blur value 37.5 on a 1920-pixel frame
                    measure(state, [&] {
                        keepAlpha ? filter.applyKeepAlpha(img, img) : filter.apply(img, img);
                    });
                });
        }
    }
    return 0;
}

const int kRegistered = registerAll();

}  // namespace
