#pragma once

#include <cstddef>
#include <cstdint>

// Inner loops of the polygon mapper. Every path computes exactly the same integer arithmetic, so
// the bytes do not depend on which one runs.
namespace pm::detail {

// One channel of a bilinear sample with 7-bit weights fx, fy (0..127): a horizontal blend of each
// row with 7 bits kept, then a vertical blend through a 16-bit high multiply, rounded at the end.
inline int bilerpChannel(int c00, int c01, int c10, int c11, int fx, int fy) {
    const int top = (c00 << 7) + (c01 - c00) * fx;
    const int bottom = (c10 << 7) + (c11 - c10) * fx;
    const int v = top + ((((bottom - top) * (fy << 8)) >> 16) << 1);
    return (v + 64) >> 7;
}

// Positions are 16.16 fixed point, already shifted so that integer values are pixel centres.
inline int fraction7(std::int32_t position) {
    return (position >> 9) & 127;
}

// Writes n 32-bit pixels sampled at (sx + i dsx, sy + i dsy). Every sample must have its 2 x 2
// texels inside the source: 0 <= sx >> 16 <= width - 2 and 0 <= sy >> 16 <= height - 2.
//
// `ahead` is how far (in bytes) the destination rows a little further on sample from where this
// one does; the vector loops fetch the texels there into the cache as they go (0: nothing is
// fetched). A span across the source rows (a turned picture) reaches a new source row every few
// dozen pixels; going down the rows, that walk is too brief for the processor's own prefetching,
// and the span waited on the cache for much of its time without it. The bytes written do not
// depend on it.
using BgraSpanFn = void (*)(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                            std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                            std::ptrdiff_t ahead);

void spanBgraScalar(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                    std::ptrdiff_t ahead = 0);
void spanBgraSse2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                  std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                  std::ptrdiff_t ahead = 0);
void spanBgraAvx2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                  std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                  std::ptrdiff_t ahead = 0);

// The same samples in two passes, for mappings that keep source rows horizontal: each source row
// is blended across once (rowBlend), and every destination row then blends the two source rows
// around it (columnBlend). The row blends are bilerpChannel()'s `top` less 128 x 128, four 16-bit
// channels per sample in pixel order; the bytes come out as the one-pass loops give them.
//
// rowBlend: n samples at sx + i dsx on `row`, each with 0 <= x >> 16 <= width - 2 (width being
// the row's pixel count, which the vector loop never reads beyond).
using RowBlendFn = void (*)(std::int16_t* out, int n, const std::uint8_t* row, std::int32_t sx,
                            std::int32_t dsx);
void rowBlendScalar(std::int16_t* out, int n, const std::uint8_t* row, std::int32_t sx,
                    std::int32_t dsx);
void rowBlendAvx2(std::int16_t* out, int n, const std::uint8_t* row, std::int32_t sx,
                  std::int32_t dsx);

// columnBlend: n pixels from the row blends above and below, fy the 7-bit vertical fraction.
using ColumnBlendFn = void (*)(std::uint8_t* dst, int n, const std::int16_t* top,
                               const std::int16_t* bottom, int fy);
void columnBlendScalar(std::uint8_t* dst, int n, const std::int16_t* top,
                       const std::int16_t* bottom, int fy);
void columnBlendAvx2(std::uint8_t* dst, int n, const std::int16_t* top, const std::int16_t* bottom,
                     int fy);

// Where the samples of four destination pixels lie on a source row, planned once for every row
// of a mapping that keeps source rows horizontal: two 4-pixel loads (samples 0, 1 from the first,
// 2, 3 from the second), which of their pixels each sample's left texel is (as one number, the
// byte order that pairs each left and right texel per channel coming from a table), and the
// weight bytes 128 - fx, fx of the four samples. Kept small: a row's plan stays in the nearest
// cache beside the rows it blends.
struct RowBlendGroup {
    std::int32_t offset[2];  // bytes from the row's first pixel
    std::uint8_t weights[8];
    std::uint8_t order;  // sum of r_k 3^k, r_k (0..2) sample k's left texel in its load
};

// Plans the group for positions xs[0..3], each with 0 <= x >> 16 <= width - 2. False when a
// pair's texels do not fit one 4-pixel load inside the row (steps beyond two pixels, rows
// narrower than four).
bool planRowBlendGroup(RowBlendGroup& group, const std::int32_t* xs, int width);

// rowBlend() for `count` planned groups: 16 row blends per group. `next`, when not null, is the
// source row below: the texels at the same places are fetched into the cache meanwhile, since
// the next frame row usually blends that row (a new source row starts cold otherwise).
using RowBlendGroupsFn = void (*)(std::int16_t* out, int count, const std::uint8_t* row,
                                  const RowBlendGroup* groups, const std::uint8_t* next);
void rowBlendGroupsAvx2(std::int16_t* out, int count, const std::uint8_t* row,
                        const RowBlendGroup* groups, const std::uint8_t* next = nullptr);

// The same for `rows` source rows at once, row r at row + r pitch, its blends at out + r
// outStride: each group's plan is read once for all of them.
using RowsBlendGroupsFn = void (*)(std::int16_t* out, std::ptrdiff_t outStride, int rows, int count,
                                   const std::uint8_t* row, std::ptrdiff_t pitch,
                                   const RowBlendGroup* groups);
void rowsBlendGroupsAvx2(std::int16_t* out, std::ptrdiff_t outStride, int rows, int count,
                         const std::uint8_t* row, std::ptrdiff_t pitch,
                         const RowBlendGroup* groups);

// Writes n 32-bit pixels sampled at (xs[i], ys[i]), with the same rule for where they may lie.
// The AVX2 version also needs every texel offset (y >> 16) x pitch + 4 (x >> 16) + pitch to fit 32
// bits. A nonzero `ahead` fetches the texels that far from the samples into the cache, as the
// spans do.
using BgraSampleFn = void (*)(std::uint8_t* dst, int n, const std::uint8_t* src,
                              std::ptrdiff_t pitch, const std::int32_t* xs, const std::int32_t* ys,
                              std::ptrdiff_t ahead);

void sampleBgraScalar(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                      const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t ahead = 0);
void sampleBgraSse2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t ahead = 0);
void sampleBgraAvx2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t ahead = 0);

// One destination row of a projective mapping: pixel X (its centre X + 0.5, less ox, being dx) has
// the source position (h0 dx + s, h3 dx + t) / (h6 dx + w), each evaluated in that order in double
// precision. Positions come out in 16.16 fixed point, floor(p x 65536 + 0.5), clamped to
// [-1, width] and [-1, height] (which changes no clamped sample); a zero divisor gives -1.
struct ProjectiveRow {
    double h0 = 0.0, h3 = 0.0, h6 = 0.0;
    double s = 0.0, t = 0.0, w = 1.0;
    double ox = 0.0;
    int width = 0;  // of the source
    int height = 0;
    // How far the row's curve bends (projectiveBend()); negative: worked out at every call.
    double bend = -1.0;
};

// Positions are divided out at every eighth pixel and interpolated between where the curve bends
// so little that no sample moves by more than 1/512 of a source pixel; this measures the bend.
double projectiveBend(const ProjectiveRow& row);

// The positions of pixels [x, x + n); true when every sample has its 2 x 2 texels inside the
// source.
using ProjectFn = bool (*)(const ProjectiveRow& row, int x, int n, std::int32_t* xs,
                           std::int32_t* ys);
bool projectScalar(const ProjectiveRow& row, int x, int n, std::int32_t* xs, std::int32_t* ys);
bool projectAvx2(const ProjectiveRow& row, int x, int n, std::int32_t* xs, std::int32_t* ys);

bool cpuHasAvx2();

// Sets n cells to value.
void fillCells(std::uint16_t* cells, int n, std::uint16_t value);

// How many of the first n cells are zero.
int zeroCells(const std::uint16_t* cells, int n);

}  // namespace pm::detail
