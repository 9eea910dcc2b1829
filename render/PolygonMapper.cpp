#include "render/PolygonMapper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "render/detail/MapperSpans.h"

namespace pm {

namespace detail {

// Scratch memory that mapping calls reuse from row to row.
struct MapperScratch {
    struct Run {
        int x0, x1, q;
    };
    std::vector<Run> runs;
    std::vector<std::uint32_t> samples;
    std::vector<KernelBuffer::Extent> fullRuns;
    // Mappings that keep source rows horizontal blend each source row across once; the
    // destination rows around it share it. Slot y & 1 holds source row y.
    struct RowBlends {
        int sourceRow = -1;
        int lo = 0;  // the destination pixels blended
        int hi = 0;
        std::vector<std::int16_t> values;  // four per destination pixel
    };
    std::array<RowBlends, 2> blends;
    // The row blends of source rows first .. first + rows - 1 for pixels [lo, hi), made at once
    // where the destination rows go down the source: each planned group is then read once for
    // all of them.
    struct RowBatch {
        int first = -1;
        int rows = 0;
        int lo = 0;
        int hi = 0;
        std::ptrdiff_t stride = 0;  // values per row: four per destination pixel
        // Batches take turns in two buffers, so that a row shared with the batch before stays
        // where it was made: row `first` at firstRow, the others in the current buffer.
        std::array<std::vector<std::int16_t>, 2> values;
        int current = 0;
        const std::int16_t* firstRow = nullptr;
        const std::int16_t* row(int y) const {
            return y == first
                       ? firstRow
                       : values[static_cast<std::size_t>(current)].data() + (y - first) * stride;
        }
    };
    RowBatch batch;
    // The destination pixels whose samples lie inside the source (their 2 x 2 texels), for
    // mappings whose source columns do not depend on the row.
    std::pair<int, int> inside;
    // Where each group of four destination pixels samples a source row, the same for every row;
    // empty when the mapping's steps do not allow it.
    std::vector<RowBlendGroup> groups;
    std::vector<std::int32_t> positions;
};

}  // namespace detail

namespace {

constexpr int kFull = KernelBuffer::kFullCoverage;
// Sample positions are recomputed from the mapping at every multiple of this many pixels, so
// stepping errors stay far below a 1/128 pixel and a pixel's sample depends only on where it is.
constexpr int kChunk = 64;
// Quadrilaterals closer than this to a parallelogram (in pixels) take the affine path.
constexpr double kParallelTolerance = 1.0 / 512.0;
constexpr int kMaxSourceSide = 32767;
// Rows at most this wide are sampled whole before drawing.
constexpr int kShortRow = 256;
// Source rows blended across at once (see MapperScratch::RowBatch). More rows read the plan less
// often, but each is a stream of its own through the caches: eight measured best.
constexpr int kBatchRows = 8;
// Spans fetch the texels this many destination rows ahead will sample: time enough for memory
// to answer, and still in the cache when those rows come (two to six measured alike).
constexpr int kAheadRows = 3;

using Matrix = std::array<double, 9>;  // row-major 3 x 3

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
        }
    }
    return r;
}

Matrix adjugate(const Matrix& m) {
    return {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
            m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
            m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
}

// The projective map of the unit square's corners (0,0), (1,0), (1,1), (0,1) onto a quadrilateral.
bool squareToQuad(const double x[4], const double y[4], Matrix& m) {
    const double sx = x[0] - x[1] + x[2] - x[3];
    const double sy = y[0] - y[1] + y[2] - y[3];
    const double dx1 = x[1] - x[2];
    const double dx2 = x[3] - x[2];
    const double dy1 = y[1] - y[2];
    const double dy2 = y[3] - y[2];
    const double den = dx1 * dy2 - dx2 * dy1;
    if (den == 0.0 || !std::isfinite(den)) {
        return false;
    }
    const double g = (sx * dy2 - dx2 * sy) / den;
    const double h = (dx1 * sy - sx * dy1) / den;
    m = {x[1] - x[0] + g * x[1],
         x[3] - x[0] + h * x[3],
         x[0],
         y[1] - y[0] + g * y[1],
         y[3] - y[0] + h * y[3],
         y[0],
         g,
         h,
         1.0};
    return true;
}

// Maps a destination pixel centre, given relative to the first vertex, to a source position whose
// integer values are texel centres.
struct Mapping {
    bool affine = true;
    double ox = 0.0;  // the first vertex
    double oy = 0.0;
    double s0 = 0.0, sx = 0.0, sy = 0.0;  // affine: s = s0 + sx dx + sy dy
    double t0 = 0.0, tx = 0.0, ty = 0.0;
    Matrix h{};  // projective: (s, t, 1) ~ h (dx, dy, 1)
};

bool isParallelogram(const double x[4], const double y[4]) {
    return std::abs(x[0] - x[1] + x[2] - x[3]) <= kParallelTolerance &&
           std::abs(y[0] - y[1] + y[2] - y[3]) <= kParallelTolerance;
}

bool buildMapping(const MeshVertex* v, int count, Mapping& map) {
    map.ox = v[0].x;
    map.oy = v[0].y;
    double dx[4], dy[4], s[4], t[4];
    for (int i = 0; i < count; ++i) {
        dx[i] = static_cast<double>(v[i].x) - map.ox;
        dy[i] = static_cast<double>(v[i].y) - map.oy;
        s[i] = static_cast<double>(v[i].u) - 0.5;
        t[i] = static_cast<double>(v[i].v) - 0.5;
    }
    map.affine = count == 3 || (isParallelogram(dx, dy) && isParallelogram(s, t));
    if (map.affine) {
        // Corners 1 and the last one span the polygon from corner 0.
        const int k = count - 1;
        const double det = dx[1] * dy[k] - dx[k] * dy[1];
        if (!(std::abs(det) > 1e-12) || !std::isfinite(det)) {
            return false;
        }
        const double e1s = s[1] - s[0], eks = s[k] - s[0];
        const double e1t = t[1] - t[0], ekt = t[k] - t[0];
        map.s0 = s[0];
        map.sx = (e1s * dy[k] - eks * dy[1]) / det;
        map.sy = (eks * dx[1] - e1s * dx[k]) / det;
        map.t0 = t[0];
        map.tx = (e1t * dy[k] - ekt * dy[1]) / det;
        map.ty = (ekt * dx[1] - e1t * dx[k]) / det;
        return std::isfinite(map.sx + map.sy + map.tx + map.ty);
    }
    Matrix toDest, toSource;
    if (!squareToQuad(dx, dy, toDest) || !squareToQuad(s, t, toSource)) {
        return false;
    }
    map.h = multiply(toSource, adjugate(toDest));
    for (double e : map.h) {
        if (!std::isfinite(e)) {
            return false;
        }
    }
    return true;
}

std::int64_t toFixed(double position) {
    if (!(position > -30000.0)) {  // also catches NaN
        position = -30000.0;
    }
    position = std::min(position, 60000.0);
    // floor() without a library call: the value is well inside the 64-bit range.
    const double v = position * 65536.0 + 0.5;
    const auto t = static_cast<std::int64_t>(v);
    return static_cast<double>(t) > v ? t - 1 : t;
}

std::int64_t toStep(double step) {
    const double limit = 1 << 28;
    step = std::clamp(step * 65536.0, -limit, limit);
    return static_cast<std::int64_t>(std::floor(step + 0.5));
}

// The fixed-point position along one axis of pixel x of a destination row whose pixel 0 lies at
// `start` (affine mappings): recomputed at every chunk so that a pixel's sample depends only on
// where it is, stepped within the chunk.
std::int64_t chunkedPosition(double start, double slope, std::int64_t step, int x) {
    const int base = x & ~(kChunk - 1);
    return toFixed(start + slope * base) + (x - base) * step;
}

// Bilinear sampling with the edges clamped, for any position.
struct Source {
    const KernelBitmap& bitmap;

    void clampPosition(std::int64_t& p, int side) const {
        p = std::clamp<std::int64_t>(p, -65536, static_cast<std::int64_t>(side) * 65536);
    }

    std::uint32_t bgra(std::int64_t px, std::int64_t py) const {
        if (px >= 0 && py >= 0 && (px >> 16) <= bitmap.width - 2 &&
            (py >> 16) <= bitmap.height - 2) {
            std::uint32_t out;
            detail::spanBgraScalar(reinterpret_cast<std::uint8_t*>(&out), 1, bitmap.pixels,
                                   bitmap.pitch, static_cast<std::int32_t>(px),
                                   static_cast<std::int32_t>(py), 0, 0);
            return out;
        }
        clampPosition(px, bitmap.width);
        clampPosition(py, bitmap.height);
        const auto x = static_cast<std::int32_t>(px);
        const auto y = static_cast<std::int32_t>(py);
        const int x0 = std::clamp(x >> 16, 0, bitmap.width - 1);
        const int x1 = std::clamp((x >> 16) + 1, 0, bitmap.width - 1);
        const int y0 = std::clamp(y >> 16, 0, bitmap.height - 1);
        const int y1 = std::clamp((y >> 16) + 1, 0, bitmap.height - 1);
        const std::uint8_t* t = bitmap.row(y0);
        const std::uint8_t* b = bitmap.row(y1);
        const int fx = detail::fraction7(x);
        const int fy = detail::fraction7(y);
        std::uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            const int v = detail::bilerpChannel(t[4 * x0 + c], t[4 * x1 + c], b[4 * x0 + c],
                                                b[4 * x1 + c], fx, fy);
            out |= static_cast<std::uint32_t>(v) << (8 * c);
        }
        return out;
    }

    // channel 0 luma, 1 blue difference, 2 red difference
    int yuy2(std::int64_t px, std::int64_t py, int channel) const {
        clampPosition(px, bitmap.width);
        clampPosition(py, bitmap.height);
        const auto x = static_cast<std::int32_t>(px);
        const auto y = static_cast<std::int32_t>(py);
        const int x0 = std::clamp(x >> 16, 0, bitmap.width - 1);
        const int x1 = std::clamp((x >> 16) + 1, 0, bitmap.width - 1);
        const int y0 = std::clamp(y >> 16, 0, bitmap.height - 1);
        const int y1 = std::clamp((y >> 16) + 1, 0, bitmap.height - 1);
        const auto offset = [channel](int column) {
            return channel == 0 ? 2 * column : 4 * (column >> 1) + (channel == 1 ? 1 : 3);
        };
        const std::uint8_t* t = bitmap.row(y0);
        const std::uint8_t* b = bitmap.row(y1);
        return detail::bilerpChannel(t[offset(x0)], t[offset(x1)], b[offset(x0)], b[offset(x1)],
                                     detail::fraction7(x), detail::fraction7(y));
    }
};

// How far the texels that destination rows kAheadRows further down sample lie from those this
// row samples at the same column, in bytes of the source (affine mappings).
std::ptrdiff_t aheadBytes(const Mapping& map, const KernelBitmap& source) {
    const double rows = std::clamp(std::floor(kAheadRows * map.ty + 0.5), -256.0, 256.0);
    const double columns = std::clamp(std::floor(kAheadRows * map.sy + 0.5), -256.0, 256.0);
    return static_cast<std::ptrdiff_t>(rows) * source.pitch +
           static_cast<std::ptrdiff_t>(columns) * 4;
}

// aheadBytes() for a projective mapping, taken at the column of its first vertex: the step
// changes along a row, but where to fetch ahead need only be near.
std::ptrdiff_t projectiveAheadBytes(const Mapping& map, double dy, const KernelBitmap& source) {
    const Matrix& h = map.h;
    const auto at = [&h](double y, double& s, double& t) {
        const double w = h[7] * y + h[8] + h[6] * 0.5;
        if (!(std::abs(w) > 1e-12)) {
            return false;
        }
        s = (h[1] * y + h[2] + h[0] * 0.5) / w;
        t = (h[4] * y + h[5] + h[3] * 0.5) / w;
        return std::isfinite(s) && std::isfinite(t);
    };
    double s0, t0, s1, t1;
    if (!at(dy, s0, t0) || !at(dy + kAheadRows, s1, t1)) {
        return 0;
    }
    const double rows = std::clamp(std::floor(t1 - t0 + 0.5), -256.0, 256.0);
    const double columns = std::clamp(std::floor(s1 - s0 + 0.5), -256.0, 256.0);
    return static_cast<std::ptrdiff_t>(rows) * source.pitch +
           static_cast<std::ptrdiff_t>(columns) * 4;
}

// The inner loops one call uses.
struct Kernels {
    detail::BgraSpanFn span = detail::spanBgraScalar;
    detail::BgraSampleFn sample = detail::sampleBgraScalar;
    detail::ProjectFn project = detail::projectScalar;
    // Two-pass sampling, where the machine has a loop for it that pays.
    detail::RowBlendFn rowBlend = nullptr;
    detail::ColumnBlendFn columnBlend = nullptr;
    detail::RowBlendGroupsFn rowBlendGroups = nullptr;
    detail::RowsBlendGroupsFn rowsBlendGroups = nullptr;
};

inline std::uint8_t blendByte(int d, int s, int w) {
    return static_cast<std::uint8_t>((d * (256 - w) + s * w + 128) >> 8);
}

using RowScratch = detail::MapperScratch;

// Draws the covered pixels of one destination row. The coverage walk hands it runs of equal
// coverage left to right; finish() then draws them, sampling whole runs with the vector loops.
class RowShader {
public:
    RowShader(const Mapping& map, const Source& source, const KernelBitmap& dest, int row,
              double centreY, KernelBuffer& work, KernelBuffer* coverage, const Kernels& kernels,
              RowScratch& scratch, bool twoPass)
        : m_map(map),
          m_source(source),
          m_dest(dest.row(row)),
          m_bgra(dest.layout == KernelLayout::Bgra32),
          m_row(row),
          m_workBuffer(work),
          m_coverageBuffer(coverage),
          m_kernels(kernels),
          m_scratch(scratch),
          m_twoPass(twoPass) {
        const double dy = centreY - map.oy;
        if (map.affine) {
            // Source position of pixel X is rowS + sx X.
            m_rowS = map.s0 + map.sx * (0.5 - map.ox) + map.sy * dy;
            m_rowT = map.t0 + map.tx * (0.5 - map.ox) + map.ty * dy;
            m_stepS = toStep(map.sx);
            m_stepT = toStep(map.tx);
            m_ahead = aheadBytes(map, source.bitmap);
        } else {
            const Matrix& h = map.h;
            m_rowS = h[1] * dy + h[2];
            m_rowT = h[4] * dy + h[5];
            m_rowW = h[7] * dy + h[8];
            m_proj = {h[0],
                      h[3],
                      h[6],
                      m_rowS,
                      m_rowT,
                      m_rowW,
                      map.ox,
                      source.bitmap.width,
                      source.bitmap.height};
            m_proj.bend = detail::projectiveBend(m_proj);
            m_ahead = projectiveAheadBytes(map, dy, source.bitmap);
        }
        m_scratch.runs.clear();
    }

    RowShader(const RowShader&) = delete;
    RowShader& operator=(const RowShader&) = delete;

    // Pixels [x0, x1) each covered q / kFull by the polygon (kFull: fully inside).
    void run(int x0, int x1, int q) {
        std::vector<RowScratch::Run>& runs = m_scratch.runs;
        if (!runs.empty() && runs.back().x1 == x0 && runs.back().q == q) {
            runs.back().x1 = x1;
        } else {
            runs.push_back({x0, x1, q});
        }
    }

    void finish() {
        const std::vector<RowScratch::Run>& runs = m_scratch.runs;
        if (runs.empty()) {
            return;
        }
        const int lo = runs.front().x0;
        const int hi = runs.back().x1;
        // Cells outside the row's extent are zero without looking; reach() makes them real. Work
        // cells that fully covered runs take in are written without being read first, so they
        // are left alone.
        std::vector<KernelBuffer::Extent>& full = m_scratch.fullRuns;
        full.clear();
        for (const RowScratch::Run& r : runs) {
            if (r.q == kFull) {
                full.push_back({r.x0, r.x1});
            }
        }
        m_old = m_workBuffer.extent(m_row);
        m_workBuffer.reach(m_row, lo, hi, full);
        m_work = m_workBuffer.rowFor(m_row, lo, hi);
        if (m_coverageBuffer) {
            m_coverageBuffer->reach(m_row, lo, hi);
            m_coverage = m_coverageBuffer->row(m_row);
        }
        // A short row (a mesh cell's) is sampled in one go: fewer, fuller vector calls.
        if (m_bgra && hi - lo <= kShortRow) {
            std::vector<std::uint32_t>& buffer = m_scratch.samples;
            if (buffer.size() < static_cast<std::size_t>(kShortRow)) {
                buffer.resize(static_cast<std::size_t>(kShortRow));
            }
            writeRun(reinterpret_cast<std::uint8_t*>(buffer.data()), lo, hi);
            m_rowSamples = buffer.data();
            m_rowBase = lo;
        }
        const std::size_t count = runs.size();
        for (std::size_t i = 0; i < count;) {
            if (runs[i].q == kFull) {
                fullRun(runs[i].x0, runs[i].x1);
                ++i;
                continue;
            }
            // Neighbouring partly covered runs are sampled together.
            std::size_t end = i + 1;
            while (end < count && runs[end].q != kFull && runs[end].x0 == runs[end - 1].x1) {
                ++end;
            }
            blendRuns(&runs[i], end - i);
            i = end;
        }
    }

private:
    // Pixels [x0, x1) fully inside the polygon: overwritten where nothing covered them yet.
    void fullRun(int x0, int x1) {
        const bool known = m_old.lo < m_old.hi;
        const int lo = known ? m_old.lo : x1;
        const int hi = known ? m_old.hi : x1;
        int x = x0;
        while (x < x1) {
            const int fresh = x < lo   ? std::min(x1, lo) - x
                              : x < hi ? detail::zeroCells(m_work + x, std::min(x1, hi) - x)
                                       : x1 - x;
            if (fresh > 0) {
                if (m_rowSamples) {
                    std::memcpy(m_dest + 4 * x, m_rowSamples + (x - m_rowBase),
                                4 * static_cast<std::size_t>(fresh));
                } else if (m_bgra) {
                    writeRun(m_dest + 4 * x, x, x + fresh);
                } else {
                    writeYuy2(x, x + fresh);
                }
                m_workBuffer.markFull(m_row, x, x + fresh);
                if (m_coverage) {
                    detail::fillCells(m_coverage + x, fresh, kFull);
                }
                x += fresh;
                continue;
            }
            // Partly covered already: blend up to the next fresh cell.
            int end = x + 1;
            while (end < x1 && end < hi && m_work[end] != 0) {
                ++end;
            }
            blendRun(x, end, kFull);
            x = end;
        }
    }

    // Pixels [x0, x1) covered q each, blended against what earlier polygons covered.
    void blendRun(int x0, int x1, int q) {
        const RowScratch::Run run{x0, x1, q};
        blendRuns(&run, 1);
    }

    // Neighbouring runs, each pixel blended by its run's coverage.
    void blendRuns(const RowScratch::Run* runs, std::size_t count) {
        const int x0 = runs[0].x0;
        const int x1 = runs[count - 1].x1;
        const std::uint32_t* samples = nullptr;
        if (m_rowSamples) {
            samples = m_rowSamples + (x0 - m_rowBase);
        } else if (m_bgra) {
            std::vector<std::uint32_t>& buffer = m_scratch.samples;
            if (buffer.size() < static_cast<std::size_t>(x1 - x0)) {
                buffer.resize(static_cast<std::size_t>(x1 - x0));
            }
            writeRun(reinterpret_cast<std::uint8_t*>(buffer.data()), x0, x1);
            samples = buffer.data();
        }
        for (std::size_t i = 0; i < count; ++i) {
            const int q = runs[i].q;
            for (int x = runs[i].x0; x < runs[i].x1; ++x) {
                blendPixel(x, q, samples ? samples[x - x0] : 0);
            }
        }
    }

    // sample: the pixel's 32-bit sample (unused for Yuy2).
    void blendPixel(int x, int q, std::uint32_t sample) {
        const int before = m_work[x];
        const int total = std::min(kFull, before + q);
        if (total == before) {
            return;
        }
        // The new share of the pixel, relative to what is still uncovered: a pixel that two
        // polygons cover half each ends fully opaque with nothing of the background left.
        const int rest = kFull - before;
        const int w = ((total - before) * 256 + rest / 2) / rest;
        if (m_bgra) {
            const std::uint32_t s = sample;
            std::uint8_t* d = m_dest + 4 * x;
            for (int c = 0; c < 4; ++c) {
                d[c] = blendByte(d[c], static_cast<int>((s >> (8 * c)) & 0xFF), w);
            }
        } else {
            std::int64_t px, py;
            position(x, px, py);
            std::uint8_t* d = m_dest + 2 * x;
            d[0] = blendByte(d[0], m_source.yuy2(px, py, 0), w);
            d[1] = blendByte(d[1], m_source.yuy2(px, py, (x & 1) ? 2 : 1), w);
        }
        m_work[x] = static_cast<std::uint16_t>(total);
        if (m_coverage) {
            m_coverage[x] = static_cast<std::uint16_t>(total);
        }
    }

    void position(int x, std::int64_t& px, std::int64_t& py) const {
        if (m_map.affine) {
            px = chunkedPosition(m_rowS, m_map.sx, m_stepS, x);
            py = chunkedPosition(m_rowT, m_map.tx, m_stepT, x);
            return;
        }
        std::int32_t xs, ys;
        detail::projectScalar(m_proj, x, 1, &xs, &ys);
        px = xs;
        py = ys;
    }

    bool interior(std::int64_t p, int side) const { return p >= 0 && (p >> 16) <= side - 2; }

    void writeYuy2(int x0, int x1) {
        for (int x = x0; x < x1; ++x) {
            std::int64_t px, py;
            position(x, px, py);
            m_dest[2 * x] = static_cast<std::uint8_t>(m_source.yuy2(px, py, 0));
            m_dest[2 * x + 1] = static_cast<std::uint8_t>(m_source.yuy2(px, py, (x & 1) ? 2 : 1));
        }
    }

    // The 32-bit samples of pixels [x0, x1), written from out onwards.
    void writeRun(std::uint8_t* out, int x0, int x1) {
        const KernelBitmap& src = m_source.bitmap;
        if (!m_map.affine) {
            alignas(32) std::int32_t xs[kChunk];
            alignas(32) std::int32_t ys[kChunk];
            // Chunks end at whole multiples of kChunk, so that only a run's own ends split the
            // groups the projection interpolates.
            for (int x = x0; x < x1;) {
                const int n = std::min(kChunk - (((x % kChunk) + kChunk) % kChunk), x1 - x);
                std::uint8_t* o = out + 4 * (x - x0);
                const bool ok = m_kernels.project(m_proj, x, n, xs, ys);
                x += n;
                if (ok) {
                    m_kernels.sample(o, n, src.pixels, src.pitch, xs, ys, m_ahead);
                    continue;
                }
                for (int i = 0; i < n; ++i) {
                    const std::uint32_t s = m_source.bgra(xs[i], ys[i]);
                    std::memcpy(o + 4 * i, &s, 4);
                }
            }
            return;
        }
        if (m_twoPass) {
            // Every pixel of the row samples the same source rows, and the columns inside the
            // source are the same for every row: one two-pass call for all of them.
            std::int64_t px, py;
            position(x0, px, py);
            const int lo = std::clamp(m_scratch.inside.first, x0, x1);
            const int hi = std::clamp(m_scratch.inside.second, lo, x1);
            if (lo < hi && interior(py, src.height)) {
                const int y = static_cast<int>(py >> 16);
                const auto [top, bottom] = rowBlendPair(y, lo, hi);
                writeChunks(out, x0, lo);
                m_kernels.columnBlend(out + 4 * (lo - x0), hi - lo, top, bottom,
                                      detail::fraction7(static_cast<std::int32_t>(py)));
                writeChunks(out + 4 * (hi - x0), hi, x1);
                return;
            }
        }
        writeChunks(out, x0, x1);
    }

    // writeRun() for affine mappings, 64 pixels at a time.
    void writeChunks(std::uint8_t* out, int x0, int x1) {
        const KernelBitmap& src = m_source.bitmap;
        for (int x = x0; x < x1;) {
            const int base = x & ~(kChunk - 1);
            const int end = std::min(x1, base + kChunk);
            std::uint8_t* o = out + 4 * (x - x0);
            std::int64_t px, py;
            position(x, px, py);
            const std::int64_t lastX = px + (end - 1 - x) * m_stepS;
            const std::int64_t lastY = py + (end - 1 - x) * m_stepT;
            if (interior(px, src.width) && interior(lastX, src.width) && interior(py, src.height) &&
                interior(lastY, src.height)) {
                m_kernels.span(o, end - x, src.pixels, src.pitch, static_cast<std::int32_t>(px),
                               static_cast<std::int32_t>(py), static_cast<std::int32_t>(m_stepS),
                               static_cast<std::int32_t>(m_stepT), m_ahead);
            } else {
                for (int i = x; i < end; ++i) {
                    const std::uint32_t s =
                        m_source.bgra(px + (i - x) * m_stepS, py + (i - x) * m_stepT);
                    std::memcpy(o + 4 * (i - x), &s, 4);
                }
            }
            x = end;
        }
    }

    // The row blends of source row y for pixels [lo, hi), all inside the source. The rows of one
    // polygon ask for the same columns (an edge pixel, the inside, the other edge pixel), so a
    // slot keeps the pixels it has blended as one growing range and blends only what is new.
    const std::int16_t* rowBlends(int y, int lo, int hi) {
        RowScratch::RowBlends& slot = m_scratch.blends[static_cast<std::size_t>(y & 1)];
        const std::uint8_t* row = m_source.bitmap.row(y);
        m_nextRow = y + 1 < m_source.bitmap.height ? m_source.bitmap.row(y + 1) : nullptr;
        if (slot.sourceRow == y && lo <= slot.hi && hi >= slot.lo) {
            if (lo < slot.lo) {
                blendRange(slot, row, lo, slot.lo);
                slot.lo = lo;
            }
            if (hi > slot.hi) {
                blendRange(slot, row, slot.hi, hi);
                slot.hi = hi;
            }
        } else {
            slot.sourceRow = y;
            slot.lo = lo;
            slot.hi = hi;
            blendRange(slot, row, lo, hi);
        }
        return slot.values.data() + 4 * static_cast<std::ptrdiff_t>(lo);
    }

    // Blends pixels [lo, hi) of `row` into the slot: whole groups of four from the plan; the
    // pixels before and after them (within one chunk each), or every chunk when there is no
    // plan, stepped from their own position.
    void blendRange(RowScratch::RowBlends& slot, const std::uint8_t* row, int lo, int hi) {
        std::int16_t* values = slot.values.data();
        const std::vector<detail::RowBlendGroup>& groups = m_scratch.groups;
        const auto [a, b] = groups.empty() ? std::pair{hi, hi} : groupedPart(lo, hi);
        blendDirect(values, row, lo, a);
        if (b > a) {
            m_kernels.rowBlendGroups(values + 4 * static_cast<std::ptrdiff_t>(a), (b - a) / 4, row,
                                     groups.data() + a / 4, m_nextRow);
        }
        blendDirect(values, row, b, hi);
    }

    // The whole groups of four among pixels [lo, hi): [a, b).
    static std::pair<int, int> groupedPart(int lo, int hi) {
        const int a = std::min(hi, (lo + 3) & ~3);
        return {a, std::max(a, hi & ~3)};
    }

    // Pixels [from, to) of `row` blended across one by one, each chunk stepped from its own
    // position.
    void blendDirect(std::int16_t* values, const std::uint8_t* row, int from, int to) {
        const auto step = static_cast<std::int32_t>(m_stepS);
        for (int x = from; x < to;) {
            const int end = std::min(to, (x & ~(kChunk - 1)) + kChunk);
            std::int64_t px, py;
            position(x, px, py);
            m_kernels.rowBlend(values + 4 * static_cast<std::ptrdiff_t>(x), end - x, row,
                               static_cast<std::int32_t>(px), step);
            x = end;
        }
    }

    // The row blends of source rows y and y + 1 for pixels [lo, hi). Destination rows that take
    // every pixel inside the source, going down it, take them from the batch.
    std::pair<const std::int16_t*, const std::int16_t*> rowBlendPair(int y, int lo, int hi) {
        RowScratch::RowBatch& batch = m_scratch.batch;
        const auto held = [&batch, lo, hi](int row) {
            return row >= batch.first && row < batch.first + batch.rows && lo >= batch.lo &&
                   hi <= batch.hi;
        };
        if (lo == m_scratch.inside.first && hi == m_scratch.inside.second &&
            m_kernels.rowsBlendGroups != nullptr && !m_scratch.groups.empty() && m_map.ty > 0.0) {
            if (!held(y) || !held(y + 1)) {
                fillBatch(y, lo, hi);
            }
            const auto at = [&batch, lo](int row) {
                return batch.row(row) + 4 * static_cast<std::ptrdiff_t>(lo);
            };
            return {at(y), at(y + 1)};
        }
        // The slots hold rows y and y + 1 apart (y & 1).
        const std::int16_t* top = rowBlends(y, lo, hi);
        return {top, rowBlends(y + 1, lo, hi)};
    }

    // Makes the batch the row blends of source rows from y on for pixels [lo, hi), keeping
    // row y when the batch before ended with it.
    void fillBatch(int y, int lo, int hi) {
        RowScratch::RowBatch& batch = m_scratch.batch;
        const KernelBitmap& src = m_source.bitmap;
        const bool keep =
            batch.rows > 0 && batch.first + batch.rows - 1 == y && batch.lo == lo && batch.hi == hi;
        const std::int16_t* keptRow = keep ? batch.row(y) : nullptr;
        const int kept = keep ? 1 : 0;
        batch.current ^= 1;
        std::int16_t* base = batch.values[static_cast<std::size_t>(batch.current)].data();
        batch.firstRow = keep ? keptRow : base;
        const int first = y;
        const int rows = std::min(kBatchRows, src.height - first);
        batch.first = first;
        batch.rows = rows;
        batch.lo = lo;
        batch.hi = hi;
        const std::vector<detail::RowBlendGroup>& groups = m_scratch.groups;
        const auto [a, b] = groupedPart(lo, hi);
        for (int r = kept; r < rows; ++r) {
            std::int16_t* values = base + r * batch.stride;
            const std::uint8_t* row = src.row(first + r);
            blendDirect(values, row, lo, a);
            blendDirect(values, row, b, hi);
        }
        if (b > a && rows > kept) {
            m_kernels.rowsBlendGroups(
                base + kept * batch.stride + 4 * static_cast<std::ptrdiff_t>(a), batch.stride,
                rows - kept, (b - a) / 4, src.row(first + kept), src.pitch, groups.data() + a / 4);
        }
    }

    const Mapping& m_map;
    const Source& m_source;
    std::uint8_t* m_dest;
    bool m_bgra;
    int m_row;
    KernelBuffer& m_workBuffer;
    KernelBuffer* m_coverageBuffer;
    const Kernels& m_kernels;
    RowScratch& m_scratch;
    bool m_twoPass;
    KernelBuffer::Extent m_old;
    std::uint16_t* m_work = nullptr;
    std::uint16_t* m_coverage = nullptr;
    const std::uint32_t* m_rowSamples = nullptr;  // the samples of the whole row, when short
    int m_rowBase = 0;
    detail::ProjectiveRow m_proj;
    double m_rowS = 0.0;
    double m_rowT = 0.0;
    double m_rowW = 0.0;
    std::int64_t m_stepS = 0;
    std::int64_t m_stepT = 0;
    std::ptrdiff_t m_ahead = 0;
    const std::uint8_t* m_nextRow = nullptr;
};

// Exact area coverage of one pixel row by a polygon: every edge adds the signed area it cuts off
// into an accumulation row, whose running sum is the coverage. Only the columns an edge crosses
// are walked; between them the coverage is constant.
class RowCoverage {
public:
    RowCoverage(double* acc, int width) : m_acc(acc), m_width(width) {}

    // An edge from (xa, ya) to (xb, yb), ya < yb in row-local units (0 to 1), dir +1 downwards.
    void addEdge(double xa, double ya, double xb, double yb, double dir) {
        const double w = m_width;
        if (xa >= 0.0 && xb >= 0.0 && xa <= w && xb <= w) {
            accumulate(xa, xb, dir * (yb - ya));
            return;
        }
        // Split at the destination's sides: left of it an edge counts as lying on x = 0, right of
        // it it changes nothing inside.
        const double tLeft = (0.0 - xa) / (xb - xa);
        const double tRight = (w - xa) / (xb - xa);
        double cuts[4] = {0.0, std::min(tLeft, tRight), std::max(tLeft, tRight), 1.0};
        const int n = 4;
        for (double& t : cuts) {
            t = std::clamp(t, 0.0, 1.0);
        }
        for (int i = 0; i + 1 < n; ++i) {
            const double t0 = cuts[i];
            const double t1 = cuts[i + 1];
            if (t1 <= t0) {
                continue;
            }
            const double mid = xa + (xb - xa) * (0.5 * (t0 + t1));
            if (mid > w) {
                continue;
            }
            const double x0 = std::clamp(xa + (xb - xa) * t0, 0.0, w);
            const double x1 = std::clamp(xa + (xb - xa) * t1, 0.0, w);
            accumulate(x0, x1, dir * (yb - ya) * (t1 - t0));
        }
    }

    // Walks the row, handing the shader its covered pixels as runs of equal coverage.
    template <typename Shader>
    void emit(Shader& shader) {
        std::sort(m_spans.begin(), m_spans.begin() + m_count);
        double running = 0.0;
        int pos = 0;
        for (int i = 0; i < m_count;) {
            int lo = m_spans[i].first;
            int hi = m_spans[i].second;
            for (++i; i < m_count && m_spans[i].first <= hi + 1; ++i) {
                hi = std::max(hi, m_spans[i].second);
            }
            if (lo > pos) {
                const int q = quantize(running);
                const int end = std::min(lo, m_width);
                if (q > 0 && pos < end) {
                    shader.run(pos, end, q);
                }
            }
            for (int x = lo; x <= hi; ++x) {
                running += m_acc[x];
                m_acc[x] = 0.0;
                if (x >= m_width) {
                    continue;
                }
                const int q = quantize(running);
                if (q > 0) {
                    shader.run(x, x + 1, q);
                }
            }
            pos = hi + 1;
        }
        // Right of the last edge piece (edges beyond the right side were dropped).
        if (pos < m_width) {
            const int q = quantize(running);
            if (q > 0) {
                shader.run(pos, m_width, q);
            }
        }
        m_count = 0;
        shader.finish();
    }

private:
    static int quantize(double coverage) {
        const double c = std::min(std::abs(coverage), 1.0);
        return static_cast<int>(c * kFull + 0.5);
    }

    void span(int lo, int hi) {
        if (m_count < static_cast<int>(m_spans.size())) {
            m_spans[m_count++] = {lo, hi};
        }
    }

    // The signed area an edge piece from x = xa (top) to x = xb (bottom), d high, cuts off.
    void accumulate(double xa, double xb, double d) {
        if (d == 0.0) {
            return;
        }
        const double x0 = std::min(xa, xb);
        const double x1 = std::max(xa, xb);
        // Both ends lie in [0, width], where truncation is floor().
        const int i0 = static_cast<int>(x0);
        const double x0floor = i0;
        const int t1 = static_cast<int>(x1);
        const int i1 = t1 < x1 ? t1 + 1 : t1;
        if (i1 <= i0 + 1) {
            const double mid = 0.5 * (xa + xb) - x0floor;
            m_acc[i0] += d - d * mid;
            m_acc[i0 + 1] += d * mid;
            span(i0, i0 + 1);
            return;
        }
        const double s = 1.0 / (x1 - x0);
        const double x0f = x0 - x0floor;
        const double a0 = 0.5 * s * (1.0 - x0f) * (1.0 - x0f);
        const double x1f = x1 - i1 + 1.0;
        const double am = 0.5 * s * x1f * x1f;
        m_acc[i0] += d * a0;
        if (i1 == i0 + 2) {
            m_acc[i0 + 1] += d * (1.0 - a0 - am);
        } else {
            const double a1 = s * (1.5 - x0f);
            m_acc[i0 + 1] += d * (a1 - a0);
            for (int i = i0 + 2; i < i1 - 1; ++i) {
                m_acc[i] += d * s;
            }
            const double a2 = a1 + (i1 - i0 - 3) * s;
            m_acc[i1 - 1] += d * (1.0 - a2 - am);
        }
        m_acc[i1] += d * am;
        span(i0, i1);
    }

    double* m_acc;
    int m_width;
    std::array<std::pair<int, int>, 24> m_spans{};
    int m_count = 0;
};

struct Edge {
    double xTop, yTop, xBottom, yBottom;
    double dir;
    double slope;
};

// Plans the row blends of every group of four destination pixels for a mapping whose source
// positions do not depend on the row: the positions are the ones RowShader::position() gives.
// Groups reaching outside the source are never asked for (their chunks are not interior); they
// stay unplanned. Leaves `groups` empty when some group inside cannot be planned.
void planGroups(const Mapping& map, const KernelBitmap& source, int width,
                detail::MapperScratch& scratch) {
    // RowShader's row start without its row term: the mapping has none (sy is 0).
    const double rowS = map.s0 + map.sx * (0.5 - map.ox);
    const std::int64_t step = toStep(map.sx);
    const std::int64_t limit = static_cast<std::int64_t>(source.width - 2) * 65536 + 65535;
    // The first run of pixels inside the source; any later ones take the chunked path.
    std::vector<std::int32_t>& xs = scratch.positions;
    xs.resize(static_cast<std::size_t>(width));
    int lo = width;
    int hi = width;
    for (int x = 0; x < width; ++x) {
        const std::int64_t p = chunkedPosition(rowS, map.sx, step, x);
        const bool in = p >= 0 && p <= limit;
        if (in && lo == width) {
            lo = x;
        } else if (!in && lo < width && hi == width) {
            hi = x;
        }
        xs[static_cast<std::size_t>(x)] =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(p, 0, limit));
    }
    scratch.inside = {lo, hi};
    std::vector<detail::RowBlendGroup>& groups = scratch.groups;
    groups.resize(static_cast<std::size_t>(width / 4));
    for (int g = (lo + 3) / 4; 4 * g + 4 <= hi; ++g) {
        if (!detail::planRowBlendGroup(groups[static_cast<std::size_t>(g)],
                                       &xs[static_cast<std::size_t>(4 * g)], source.width)) {
            groups.clear();
            return;
        }
    }
}

Kernels kernelsFor(MapperPath path, const KernelBitmap& source) {
    Kernels k;
    switch (availableMapperPath(path)) {
        case MapperPath::Avx2: {
            k.span = detail::spanBgraAvx2;
            k.project = detail::projectAvx2;
            // Its texel offsets are 32-bit.
            const std::int64_t reach = (static_cast<std::int64_t>(source.height) + 1) *
                                       std::abs(static_cast<std::int64_t>(source.pitch));
            k.sample =
                reach < (std::int64_t{1} << 31) ? detail::sampleBgraAvx2 : detail::sampleBgraSse2;
            k.rowBlend = detail::rowBlendAvx2;
            k.columnBlend = detail::columnBlendAvx2;
            k.rowBlendGroups = detail::rowBlendGroupsAvx2;
            k.rowsBlendGroups = detail::rowsBlendGroupsAvx2;
            break;
        }
        case MapperPath::Sse2:
            k.span = detail::spanBgraSse2;
            k.sample = detail::sampleBgraSse2;
            break;
        default:
            break;
    }
    return k;
}

int parityFor(const RenderSurface& surface, std::uint32_t flags) {
    const int selector = surface.destination.fieldSelector;
    if (selector == 2 || selector == 3) {
        return selector - 2;
    }
    if (flags & RenderSurface::kFlagField) {
        return (flags & RenderSurface::kFlagSecondField) ? 1 : 0;
    }
    return -1;
}

}  // namespace

MapperPath availableMapperPath(MapperPath wanted) {
    if (wanted == MapperPath::Best || wanted == MapperPath::Avx2) {
        return detail::cpuHasAvx2() ? MapperPath::Avx2 : MapperPath::Sse2;
    }
    return wanted;
}

namespace {

// What a call must hold: matching, valid pictures of a size the mapper takes, the surface's
// buffers of the destination's size, and three or four vertices.
bool validCall(const RenderSurface& surface, const KernelBuffer* coverage,
               const KernelBitmap& source, const MeshVertex* vertices, int count) {
    const KernelBitmap& dest = surface.destination;
    if (!dest.valid() || !source.valid() || source.layout != dest.layout) {
        return false;
    }
    if (source.width > kMaxSourceSide || source.height > kMaxSourceSide) {
        return false;
    }
    if (!surface.work || surface.work->width() != dest.width ||
        surface.work->height() != dest.height) {
        return false;
    }
    if (coverage && (coverage->width() != dest.width || coverage->height() != dest.height)) {
        return false;
    }
    return vertices != nullptr && (count == 3 || count == 4);
}

// The polygon's highest and lowest y; nothing when a vertex is not a finite point.
std::optional<std::pair<double, double>> verticalExtent(const MeshVertex* vertices, int count) {
    double top = 1e300, bottom = -1e300;
    for (int i = 0; i < count; ++i) {
        const MeshVertex& v = vertices[i];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.u) ||
            !std::isfinite(v.v)) {
            return std::nullopt;
        }
        top = std::min(top, static_cast<double>(v.y));
        bottom = std::max(bottom, static_cast<double>(v.y));
    }
    return std::pair{top, bottom};
}

// Edges with their upper end first, so that two polygons sharing an edge compute it alike.
// Level edges cover nothing and are left out. Returns how many there are.
int setUpEdges(const MeshVertex* vertices, int count, std::array<Edge, 4>& edges) {
    int edgeCount = 0;
    for (int i = 0; i < count; ++i) {
        const MeshVertex& a = vertices[i];
        const MeshVertex& b = vertices[(i + 1) % count];
        if (a.y == b.y) {
            continue;
        }
        const bool down = a.y < b.y;
        const MeshVertex& hi = down ? a : b;
        const MeshVertex& lo = down ? b : a;
        const double xTop = hi.x, yTop = hi.y, xBottom = lo.x, yBottom = lo.y;
        edges[edgeCount++] = {
            xTop, yTop, xBottom, yBottom, down ? 1.0 : -1.0, (xBottom - xTop) / (yBottom - yTop)};
    }
    return edgeCount;
}

// Two passes pay while neighbouring destination rows mostly share their source rows: no
// rotation or tilt, and no more than about one and a half source rows per row drawn.
bool useTwoPasses(const Mapping& map, int parity, const KernelBitmap& dest,
                  const Kernels& kernels) {
    const double rowStep = std::abs(map.ty) * (parity >= 0 ? 2.0 : 1.0);
    return map.affine && map.sy == 0.0 && map.tx == 0.0 && rowStep <= 1.75 &&
           dest.layout == KernelLayout::Bgra32 && kernels.rowBlend != nullptr;
}

// The blended source rows of the two-pass walk, sized for the destination and emptied.
void setUpTwoPassScratch(detail::MapperScratch& scratch, const Mapping& map,
                         const KernelBitmap& source, int destWidth) {
    const auto cells = static_cast<std::size_t>(destWidth) * 4;
    for (detail::MapperScratch::RowBlends& slot : scratch.blends) {
        slot.sourceRow = -1;
        if (slot.values.size() < cells) {
            slot.values.resize(cells);
        }
    }
    detail::MapperScratch::RowBatch& batch = scratch.batch;
    batch.first = -1;
    batch.rows = 0;
    batch.stride = static_cast<std::ptrdiff_t>(cells);
    for (std::vector<std::int16_t>& values : batch.values) {
        if (values.size() < cells * kBatchRows) {
            values.resize(cells * kBatchRows);
        }
    }
    planGroups(map, source, destWidth, scratch);
}

// Adds what each edge covers of the frame row starting at y0.
void coverRow(RowCoverage& rowCoverage, const std::array<Edge, 4>& edges, int edgeCount,
              double y0) {
    const double y1 = y0 + 1.0;
    for (int e = 0; e < edgeCount; ++e) {
        const Edge& edge = edges[e];
        const double ya = std::max(edge.yTop, y0);
        const double yb = std::min(edge.yBottom, y1);
        if (!(ya < yb)) {
            continue;
        }
        const double slope = edge.slope;
        const double xa = ya == edge.yTop ? edge.xTop : edge.xTop + (ya - edge.yTop) * slope;
        const double xb = yb == edge.yBottom ? edge.xBottom : edge.xTop + (yb - edge.yTop) * slope;
        rowCoverage.addEdge(xa, ya - y0, xb, yb - y0, edge.dir);
    }
}

}  // namespace

bool mapPolygon(RenderSurface& surface, KernelBuffer* coverage, const KernelBitmap& source,
                const MeshVertex* vertices, int count, std::uint32_t kernelFlags) {
    if (!validCall(surface, coverage, source, vertices, count)) {
        return false;
    }
    const auto extent = verticalExtent(vertices, count);
    if (!extent) {
        return false;
    }
    Mapping map;
    if (!buildMapping(vertices, count, map)) {
        return true;  // no area: nothing to draw
    }
    std::array<Edge, 4> edges{};
    const int edgeCount = setUpEdges(vertices, count, edges);

    const KernelBitmap& dest = surface.destination;
    const int parity = parityFor(surface, kernelFlags);
    const int firstRow = surface.firstRow;
    const auto [top, bottom] = *extent;
    const int rowBegin = std::max(0, static_cast<int>(std::max(std::floor(top), -1e9)) - firstRow);
    const int rowEnd =
        std::min(dest.height, static_cast<int>(std::min(std::ceil(bottom), 1e9)) - firstRow);
    surface.scratch.resize(static_cast<std::size_t>(dest.width) + 2, 0.0);
    RowCoverage rowCoverage(surface.scratch.data(), dest.width);
    const Source src{source};
    const Kernels kernels = kernelsFor(surface.path, source);
    if (!surface.mapperScratch) {
        surface.mapperScratch = std::make_shared<detail::MapperScratch>();
    }
    const bool twoPass = useTwoPasses(map, parity, dest, kernels);
    if (twoPass) {
        setUpTwoPassScratch(*surface.mapperScratch, map, source, dest.width);
    }

    for (int row = rowBegin; row < rowEnd; ++row) {
        const int frameRow = firstRow + row;
        if (parity >= 0 && (frameRow & 1) != parity) {
            continue;
        }
        const double y0 = frameRow;
        coverRow(rowCoverage, edges, edgeCount, y0);
        RowShader shader(map, src, dest, row, y0 + 0.5, *surface.work, coverage, kernels,
                         *surface.mapperScratch, twoPass);
        rowCoverage.emit(shader);
    }
    return true;
}

void composeSurface(RenderSurface& surface) {
    const KernelBitmap& dest = surface.destination;
    if (!dest.valid() || dest.layout != KernelLayout::Bgra32 || !surface.work) {
        return;
    }
    const int parity = surface.fieldParity();
    for (int y = 0; y < dest.height; ++y) {
        if (parity >= 0 && ((surface.firstRow + y) & 1) != parity) {
            continue;
        }
        std::uint8_t* d = dest.row(y);
        const KernelBuffer::Extent& e = surface.work->extent(y);
        const int lo = std::clamp(e.lo, 0, dest.width);
        const int hi = std::clamp(e.hi, lo, dest.width);
        const std::uint16_t* cells = surface.work->row(y);
        for (int x = 0; x < dest.width; ++x) {
            const int c = x >= lo && x < hi ? (cells[x] + 128) >> 8 : 0;
            d[4 * x + 3] = static_cast<std::uint8_t>(c * 255 >> 7);
        }
    }
}

}  // namespace pm
