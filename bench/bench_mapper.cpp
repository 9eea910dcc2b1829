// Mapping a picture onto a full HD frame on one core: the cost every rendered frame pays per
// scene, next to a plain copy of the frame for scale.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/CameraGeometry.h"
#include "render/PolygonMapper.h"

namespace {

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr int kSourceWidth = 2048;
constexpr int kSourceHeight = 1536;

struct Bitmap {
    std::vector<std::uint8_t> bytes;
    pm::KernelBitmap view;

    Bitmap(int w, int h) : bytes(static_cast<std::size_t>(w) * h * 4) {
        view.width = w;
        view.height = h;
        view.pitch = w * 4;
        view.pixels = bytes.data();
        view.bytesPerPixel = 4;
        view.layout = pm::KernelLayout::Bgra32;
    }
};

const Bitmap& source() {
    static const Bitmap picture = [] {
        Bitmap b(kSourceWidth, kSourceHeight);
        std::uint32_t seed = 1;
        for (auto& byte : b.bytes) {
            seed = seed * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(seed >> 24);
        }
        return b;
    }();
    return picture;
}

using Quad = std::vector<pm::MeshVertex>;

// The source's top 2048 x 1152 onto the frame, turned by `angle` about the frame centre and
// enlarged so that it still covers every frame pixel.
Quad frameQuad(double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double cover = std::abs(c) + std::abs(s) * kFrameWidth / kFrameHeight;
    const double scale = (angle == 0.0 ? 1.0 : cover) * kFrameWidth / kSourceWidth;
    Quad q;
    for (auto [u, v] : {std::pair{0.0, 0.0}, std::pair{2048.0, 0.0}, std::pair{2048.0, 1152.0},
                        std::pair{0.0, 1152.0}}) {
        const double x = (u - 1024.0) * scale;
        const double y = (v - 576.0) * scale;
        q.push_back({static_cast<float>(u), static_cast<float>(v), 1.0f,
                     static_cast<float>(kFrameWidth / 2.0 + x * c - y * s),
                     static_cast<float>(kFrameHeight / 2.0 + x * s + y * c)});
    }
    return q;
}

pm::Mesh tiltedMesh() {
    pm::CameraValues camera;
    camera.s = 1.0f;
    camera.a = 0.35f;
    camera.b = -0.25f;
    camera.dist = 2.5f;
    const pm::GridSize grid = pm::meshDensity(kSourceWidth, kSourceHeight);
    pm::Mesh mesh;
    pm::placeMesh(mesh, camera, kSourceWidth, kSourceHeight, grid,
                  {kFrameWidth, kFrameHeight, 16.0 / 9.0, 1.0});
    return mesh;
}

// A tilted picture as the renderer draws it: the visible cells joined into blocks (one here).
std::vector<Quad> tiltedBlocks() {
    const pm::Mesh mesh = tiltedMesh();
    std::vector<Quad> blocks;
    for (const pm::CellBlock& block : pm::visibleBlocks(mesh, kFrameWidth)) {
        const auto corners = pm::blockCorners(mesh, block);
        blocks.emplace_back(corners.begin(), corners.end());
    }
    return blocks;
}

// The same picture drawn cell by cell, each cell its own polygon, for comparison.
std::vector<Quad> tiltedCells() {
    const pm::Mesh mesh = tiltedMesh();
    std::vector<Quad> cells;
    for (int j = 0; j + 1 < mesh.rows(); ++j) {
        for (int k = 0; k + 1 < mesh.columns(); ++k) {
            if (pm::cellVisible(mesh, j, k, kFrameWidth)) {
                cells.push_back(
                    {mesh.at(j, k), mesh.at(j, k + 1), mesh.at(j + 1, k + 1), mesh.at(j + 1, k)});
            }
        }
    }
    return cells;
}

void mapCells(benchmark::State& state, const std::vector<Quad>& cells, pm::MapperPath path) {
    Bitmap frame(kFrameWidth, kFrameHeight);
    pm::RenderSurface surface;
    if (!surface.create(frame.view, 0)) {
        state.SkipWithError("no surface");
        return;
    }
    surface.path = path;
    for (auto _ : state) {
        state.PauseTiming();
        surface.clear();
        state.ResumeTiming();
        for (const Quad& q : cells) {
            pm::mapPolygon(surface, nullptr, source().view, q.data(), 4, surface.kernelFlags);
        }
        benchmark::DoNotOptimize(frame.bytes.data());
    }
    long covered = 0;
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            covered += surface.work->cell(x, y) != 0;
        }
    }
    state.counters["Mpix/s"] = benchmark::Counter(
        static_cast<double>(covered) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.counters["cells"] = static_cast<double>(cells.size());
    state.SetLabel(path == pm::MapperPath::Scalar                          ? "scalar"
                   : pm::availableMapperPath(path) == pm::MapperPath::Avx2 ? "avx2"
                                                                           : "sse2");
}

void flat(benchmark::State& state, pm::MapperPath path) {
    mapCells(state, {frameQuad(0.0)}, path);
}

void rotated(benchmark::State& state, pm::MapperPath path) {
    mapCells(state, {frameQuad(0.17)}, path);
}

// The small turns of a close-up's slow motion: source rows cross a frame row every 50 pixels.
void turnedSlightly(benchmark::State& state, pm::MapperPath path) {
    mapCells(state, {frameQuad(0.02)}, path);
}

// The same turn the other way, as the export benchmark's close-ups turn: along a frame row the
// samples go down the source rows. The processor's own prefetching follows that walk far worse
// than the one going up; without the mapper's own fetching ahead it took 5 to 9 ms a frame on
// our 2-core machine, against 3.4 ms going up.
void turnedSlightlyDown(benchmark::State& state) {
    mapCells(state, {frameQuad(-0.02)}, pm::MapperPath::Best);
}

void tilted(benchmark::State& state, pm::MapperPath path) {
    mapCells(state, tiltedBlocks(), path);
}

void tiltedByCells(benchmark::State& state) {
    mapCells(state, tiltedCells(), pm::MapperPath::Best);
}

void copyFrame(benchmark::State& state) {
    Bitmap a(kFrameWidth, kFrameHeight);
    Bitmap b(kFrameWidth, kFrameHeight);
    for (auto _ : state) {
        std::memcpy(b.bytes.data(), a.bytes.data(), a.bytes.size());
        benchmark::DoNotOptimize(b.bytes.data());
    }
    state.counters["Mpix/s"] = benchmark::Counter(
        double(kFrameWidth) * kFrameHeight * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}

// What a frame pays for its work buffer before drawing: a fresh surface, or clearing one that a
// full-frame picture was drawn into.
void createSurface(benchmark::State& state) {
    Bitmap frame(kFrameWidth, kFrameHeight);
    for (auto _ : state) {
        pm::RenderSurface surface;
        surface.create(frame.view, 0);
        benchmark::DoNotOptimize(surface.work.get());
    }
}

void clearSurface(benchmark::State& state) {
    Bitmap frame(kFrameWidth, kFrameHeight);
    pm::RenderSurface surface;
    surface.create(frame.view, 0);
    const Quad q = frameQuad(0.0);
    for (auto _ : state) {
        pm::mapPolygon(surface, nullptr, source().view, q.data(), 4, surface.kernelFlags);
        const auto start = std::chrono::steady_clock::now();
        surface.clear();
        benchmark::ClobberMemory();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

BENCHMARK(copyFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(createSurface)->Unit(benchmark::kMicrosecond);
BENCHMARK(clearSurface)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(flat, best, pm::MapperPath::Best)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(flat, sse2, pm::MapperPath::Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(flat, scalar, pm::MapperPath::Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rotated, best, pm::MapperPath::Best)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rotated, sse2, pm::MapperPath::Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rotated, scalar, pm::MapperPath::Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(turnedSlightly, best, pm::MapperPath::Best)->Unit(benchmark::kMillisecond);
BENCHMARK(turnedSlightlyDown)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(tilted, best, pm::MapperPath::Best)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(tilted, sse2, pm::MapperPath::Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK(tiltedByCells)->Unit(benchmark::kMillisecond);

}  // namespace
