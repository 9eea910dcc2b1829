#include "render/detail/MapperSpans.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pm::detail {

namespace {

inline std::uint32_t sampleInterior(const std::uint8_t* src, std::ptrdiff_t pitch, std::int32_t sx,
                                    std::int32_t sy) {
    const std::uint8_t* t = src + static_cast<std::ptrdiff_t>(sy >> 16) * pitch +
                            static_cast<std::ptrdiff_t>(sx >> 16) * 4;
    const std::uint8_t* b = t + pitch;
    const int fx = fraction7(sx);
    const int fy = fraction7(sy);
    std::uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
        const int v = bilerpChannel(t[c], t[c + 4], b[c], b[c + 4], fx, fy);
        out |= static_cast<std::uint32_t>(v) << (8 * c);
    }
    return out;
}

inline const std::uint8_t* texel(const std::uint8_t* src, std::ptrdiff_t pitch, std::int32_t sx,
                                 std::int32_t sy) {
    return src + static_cast<std::ptrdiff_t>(sy >> 16) * pitch +
           static_cast<std::ptrdiff_t>(sx >> 16) * 4;
}

// Fetches the texel pair at `at` + ahead and the one below it into the cache. The place may lie
// outside the source (a prefetch never faults), so it is computed as a plain address.
inline void fetchAhead(const std::uint8_t* at, std::ptrdiff_t ahead, std::ptrdiff_t pitch) {
    const std::uintptr_t p =
        reinterpret_cast<std::uintptr_t>(at) + static_cast<std::uintptr_t>(ahead);
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + static_cast<std::uintptr_t>(pitch)),
                 _MM_HINT_T0);
}

// Two texel pairs (each 8 bytes: left and right neighbour) in one register.
inline __m128i loadPairs(const std::uint8_t* a, const std::uint8_t* b) {
    const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a));
    return _mm_castps_si128(_mm_loadh_pi(_mm_castsi128_ps(lo), reinterpret_cast<const __m64*>(b)));
}

inline __m128i evenPixels(__m128i a, __m128i b) {
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

inline __m128i oddPixels(__m128i a, __m128i b) {
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

// Channels sit in 16-bit lanes (two per pixel: B and R, or G and A); fx and fy are repeated in
// both lanes of a pixel, fy already shifted left by 8.
inline __m128i blendLanes(__m128i c00, __m128i c01, __m128i c10, __m128i c11, __m128i fx,
                          __m128i fy) {
    const __m128i top =
        _mm_add_epi16(_mm_slli_epi16(c00, 7), _mm_mullo_epi16(_mm_sub_epi16(c01, c00), fx));
    const __m128i bottom =
        _mm_add_epi16(_mm_slli_epi16(c10, 7), _mm_mullo_epi16(_mm_sub_epi16(c11, c10), fx));
    const __m128i v =
        _mm_add_epi16(top, _mm_slli_epi16(_mm_mulhi_epi16(_mm_sub_epi16(bottom, top), fy), 1));
    return _mm_srli_epi16(_mm_add_epi16(v, _mm_set1_epi16(64)), 7);
}

}  // namespace

void spanBgraScalar(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                    std::ptrdiff_t /*ahead*/) {
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = sampleInterior(src, pitch, sx, sy);
        std::memcpy(dst + 4 * i, &p, 4);
        sx += dsx;
        sy += dsy;
    }
}

namespace {

// Four samples whose top-left texels are p0..p3 and whose positions are vsx, vsy.
inline void sample4(std::uint8_t* dst, std::ptrdiff_t pitch, const std::uint8_t* p0,
                    const std::uint8_t* p1, const std::uint8_t* p2, const std::uint8_t* p3,
                    __m128i vsx, __m128i vsy) {
    const __m128i mask = _mm_set1_epi32(0x00FF00FF);
    const __m128i m127 = _mm_set1_epi32(127);
    const __m128i t01 = loadPairs(p0, p1);
    const __m128i t23 = loadPairs(p2, p3);
    const __m128i b01 = loadPairs(p0 + pitch, p1 + pitch);
    const __m128i b23 = loadPairs(p2 + pitch, p3 + pitch);
    const __m128i c00 = evenPixels(t01, t23);
    const __m128i c01 = oddPixels(t01, t23);
    const __m128i c10 = evenPixels(b01, b23);
    const __m128i c11 = oddPixels(b01, b23);

    __m128i fx = _mm_and_si128(_mm_srai_epi32(vsx, 9), m127);
    fx = _mm_or_si128(fx, _mm_slli_epi32(fx, 16));
    __m128i fy = _mm_slli_epi32(_mm_and_si128(_mm_srai_epi32(vsy, 9), m127), 8);
    fy = _mm_or_si128(fy, _mm_slli_epi32(fy, 16));

    const __m128i rb = blendLanes(_mm_and_si128(c00, mask), _mm_and_si128(c01, mask),
                                  _mm_and_si128(c10, mask), _mm_and_si128(c11, mask), fx, fy);
    const __m128i ga = blendLanes(_mm_srli_epi16(c00, 8), _mm_srli_epi16(c01, 8),
                                  _mm_srli_epi16(c10, 8), _mm_srli_epi16(c11, 8), fx, fy);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(rb, _mm_slli_epi16(ga, 8)));
}

}  // namespace

void spanBgraSse2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                  std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                  std::ptrdiff_t ahead) {
    __m128i vsx = _mm_setr_epi32(sx, sx + dsx, sx + 2 * dsx, sx + 3 * dsx);
    __m128i vsy = _mm_setr_epi32(sy, sy + dsy, sy + 2 * dsy, sy + 3 * dsy);
    const __m128i stepX = _mm_set1_epi32(4 * dsx);
    const __m128i stepY = _mm_set1_epi32(4 * dsy);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const std::uint8_t* first = texel(src, pitch, sx, sy);
        if (ahead != 0) {
            fetchAhead(first, ahead, pitch);
        }
        sample4(dst + 4 * i, pitch, first, texel(src, pitch, sx + dsx, sy + dsy),
                texel(src, pitch, sx + 2 * dsx, sy + 2 * dsy),
                texel(src, pitch, sx + 3 * dsx, sy + 3 * dsy), vsx, vsy);
        sx += 4 * dsx;
        sy += 4 * dsy;
        vsx = _mm_add_epi32(vsx, stepX);
        vsy = _mm_add_epi32(vsy, stepY);
    }
    spanBgraScalar(dst + 4 * i, n - i, src, pitch, sx, sy, dsx, dsy);
}

void sampleBgraScalar(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                      const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t /*ahead*/) {
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = sampleInterior(src, pitch, xs[i], ys[i]);
        std::memcpy(dst + 4 * i, &p, 4);
    }
}

void sampleBgraSse2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t ahead) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        if (ahead != 0) {
            fetchAhead(texel(src, pitch, xs[i], ys[i]), ahead, pitch);
        }
        sample4(dst + 4 * i, pitch, texel(src, pitch, xs[i], ys[i]),
                texel(src, pitch, xs[i + 1], ys[i + 1]), texel(src, pitch, xs[i + 2], ys[i + 2]),
                texel(src, pitch, xs[i + 3], ys[i + 3]),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(xs + i)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(ys + i)));
    }
    sampleBgraScalar(dst + 4 * i, n - i, src, pitch, xs + i, ys + i, 0);
}

namespace {

// floor(v) clamped to [lo, hi] (whole numbers), NaN giving lo.
inline std::int32_t clampedFloor(double v, double lo, double hi) {
    if (!(v > lo)) {
        return static_cast<std::int32_t>(lo);
    }
    v = v < hi ? v : hi;
    const auto t = static_cast<std::int32_t>(v);
    return static_cast<double>(t) > v ? t - 1 : t;
}

inline bool inside(std::int32_t p, std::int32_t limit) {
    return static_cast<std::uint32_t>(p) < static_cast<std::uint32_t>(limit);
}

}  // namespace

namespace {

// Pixels x, x + stride, ... (n of them) each divided out on its own.
bool projectExactScalar(const ProjectiveRow& row, int x, int n, std::int32_t* xs, std::int32_t* ys,
                        int stride = 1) {
    const double lo = -65536.0;
    const double hiX = row.width * 65536.0;
    const double hiY = row.height * 65536.0;
    const std::int32_t limitX = (row.width - 1) * 65536;
    const std::int32_t limitY = (row.height - 1) * 65536;
    bool all = true;
    for (int i = 0; i < n; ++i) {
        const double dx = (x + i * stride) + 0.5 - row.ox;
        const double w = row.h6 * dx + row.w;
        if (w == 0.0) {
            xs[i] = ys[i] = -65536;
            all = false;
            continue;
        }
        const double r = 1.0 / w;
        xs[i] = clampedFloor((row.h0 * dx + row.s) * r * 65536.0 + 0.5, lo, hiX);
        ys[i] = clampedFloor((row.h3 * dx + row.t) * r * 65536.0 + 0.5, lo, hiY);
        all = all && inside(xs[i], limitX) && inside(ys[i], limitY);
    }
    return all;
}

// Pixels go in groups of kGroup from a multiple of kGroup. The positions at the centres of a
// group's first pixel and of the next group's first are divided out; the pixels between are
// interpolated when the projective curve bends so little over the group that interpolating
// moves no sample by more than kMaxBend of a source pixel (and both ends lie inside the source).
// Which way a pixel goes depends only on where it is, whatever calls asked for it.
constexpr int kGroupShift = 3;
constexpr int kGroup = 1 << kGroupShift;
constexpr double kMaxBend = 1.0 / 512;

}  // namespace

// kGroup^2 / 4 |h6| max(|Ks|, |Kt|) in 16.16 units: over kGroup pixels, linear interpolation of
// (B dx + A) / (h6 dx + W) is off by at most this over the smallest |divisor| cubed, K being
// h6 A - B W (constant along the row).
double projectiveBend(const ProjectiveRow& row) {
    const double ks = row.h6 * row.s - row.h0 * row.w;
    const double kt = row.h6 * row.t - row.h3 * row.w;
    return 2.0 * kGroup * kGroup / 8.0 * std::abs(row.h6) * std::max(std::abs(ks), std::abs(kt)) *
           65536.0;
}

namespace {

struct GroupEnds {
    std::int32_t s0 = 0, t0 = 0;  // at the group's first pixel
    std::int32_t ds = 0, dt = 0;  // to the next group's first
};

// Pixel i of a group: the first end plus i kGroup-ths of the way, rounded.
inline std::int32_t between(std::int32_t start, std::int32_t step, int i) {
    return start + ((step * i + kGroup / 2) >> kGroupShift);
}

inline int groupOf(int pixel) {
    return pixel - (((pixel % kGroup) + kGroup) % kGroup);
}

// Pixels [x, x + n) by groups: the ends of every group divided out at once through
// `exact(row, first, count, xs, ys, stride)`, and each group either interpolated by `linear` or
// divided out pixel by pixel.
template <typename Exact, typename Linear>
bool projectByGroups(const ProjectiveRow& row, int x, int n, std::int32_t* xs, std::int32_t* ys,
                     Exact exact, Linear linear) {
    constexpr int kSlice = 64;  // pixels whose group ends are made in one go
    constexpr int kMaxEnds = kSlice / kGroup + 2;
    // Keeps step x (kGroup - 1) in 32 bits for groups of up to 16.
    constexpr std::int64_t kMaxStep = std::int64_t{1} << 27;
    const double bend = row.bend >= 0.0 ? row.bend : projectiveBend(row);
    const std::int32_t limitX = (row.width - 1) * 65536;
    const std::int32_t limitY = (row.height - 1) * 65536;
    bool all = true;
    for (int start = 0; start < n; start += kSlice) {
        const int end = std::min(n, start + kSlice);
        const int first = groupOf(x + start);
        const int groups = (groupOf(x + end - 1) - first) / kGroup + 1;
        alignas(32) std::int32_t es[kMaxEnds];
        alignas(32) std::int32_t et[kMaxEnds];
        exact(row, first, groups + 1, es, et, kGroup);
        double w0 = row.h6 * ((first + 0.5) - row.ox) + row.w;
        for (int g = 0; g < groups; ++g) {
            const int groupStart = first + g * kGroup;
            const double w1 = row.h6 * ((groupStart + kGroup + 0.5) - row.ox) + row.w;
            const int from = std::max(x + start, groupStart);
            const int count = std::min(groupStart + kGroup, x + end) - from;
            const double m = std::min(std::abs(w0), std::abs(w1));
            const std::int64_t ds = std::int64_t{es[g + 1]} - es[g];
            const std::int64_t dt = std::int64_t{et[g + 1]} - et[g];
            const bool straight = w0 * w1 > 0.0 && bend <= kMaxBend * 65536.0 * m * m * m &&
                                  inside(es[g], limitX) && inside(es[g + 1], limitX) &&
                                  inside(et[g], limitY) && inside(et[g + 1], limitY) &&
                                  std::abs(ds) < kMaxStep && std::abs(dt) < kMaxStep;
            std::int32_t* gx = xs + (from - x);
            std::int32_t* gy = ys + (from - x);
            if (straight) {
                const GroupEnds ends{es[g], et[g], static_cast<std::int32_t>(ds),
                                     static_cast<std::int32_t>(dt)};
                linear(ends, from - groupStart, count, gx, gy);
            } else {
                all = exact(row, from, count, gx, gy, 1) && all;
            }
            w0 = w1;
        }
    }
    return all;
}

}  // namespace

bool projectScalar(const ProjectiveRow& row, int x, int n, std::int32_t* xs, std::int32_t* ys) {
    return projectByGroups(
        row, x, n, xs, ys, projectExactScalar,
        [](const GroupEnds& ends, int from, int count, std::int32_t* gx, std::int32_t* gy) {
            for (int k = 0; k < count; ++k) {
                gx[k] = between(ends.s0, ends.ds, from + k);
                gy[k] = between(ends.t0, ends.dt, from + k);
            }
        });
}

namespace {

// Two texel pairs, at base + offsets a and b, in one register.
inline __m128i loadPairsAt(const std::uint8_t* base, std::int32_t a, std::int32_t b) {
    return loadPairs(base + a, base + b);
}

// The texel pairs of eight samples at base + off[i]: samples 0, 1, 4, 5 in `first` and 2, 3, 6, 7
// in `second`, so that packing the two results of a blend gives the samples in order.
__attribute__((target("avx2"))) inline void gatherPairs(const std::uint8_t* base,
                                                        const std::int32_t* off, __m256i& first,
                                                        __m256i& second) {
    first = _mm256_inserti128_si256(_mm256_castsi128_si256(loadPairsAt(base, off[0], off[1])),
                                    loadPairsAt(base, off[4], off[5]), 1);
    second = _mm256_inserti128_si256(_mm256_castsi128_si256(loadPairsAt(base, off[2], off[3])),
                                     loadPairsAt(base, off[6], off[7]), 1);
}

// The horizontal blend of a texel pair per channel, less 128 x 128: the left and right texel of
// each channel side by side as signed bytes, multiplied by the weight bytes 128 - fx and fx.
__attribute__((target("avx2"))) inline __m256i rowBlend(__m256i pairs, __m256i w) {
    const __m256i interleave =
        _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0, 4, 1, 5, 2, 6, 3,
                         7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    return _mm256_maddubs_epi16(w, _mm256_xor_si256(_mm256_shuffle_epi8(pairs, interleave), bias));
}

// The vertical blend of two row blends (each less 128 x 128), rounded to 8 bits.
__attribute__((target("avx2"))) inline __m256i columnBlend(__m256i top, __m256i bottom,
                                                           __m256i fy) {
    const __m256i d = _mm256_mulhi_epi16(_mm256_sub_epi16(bottom, top), fy);
    const __m256i v = _mm256_add_epi16(top, _mm256_slli_epi16(d, 1));
    return _mm256_srli_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(128 * 128 + 64)), 7);
}

// The weight bytes 128 - fx, fx of eight samples at vx, repeated over each sample's channels:
// samples 0, 1, 4, 5 in w0 and 2, 3, 6, 7 in w1.
__attribute__((target("avx2"))) inline void rowWeights(__m256i vx, __m256i& w0, __m256i& w1) {
    const __m256i fx = _mm256_and_si256(_mm256_srai_epi32(vx, 9), _mm256_set1_epi32(127));
    __m256i wx =
        _mm256_sub_epi32(_mm256_slli_epi32(fx, 8), _mm256_sub_epi32(fx, _mm256_set1_epi32(128)));
    wx = _mm256_or_si256(wx, _mm256_slli_epi32(wx, 16));
    w0 = _mm256_unpacklo_epi32(wx, wx);
    w1 = _mm256_unpackhi_epi32(wx, wx);
}

// The vertical weights fy << 8 of eight samples at vy, in every 16-bit half of each sample:
// samples 0, 1, 4, 5 in f0 and 2, 3, 6, 7 in f1.
__attribute__((target("avx2"))) inline void columnWeights(__m256i vy, __m256i& f0, __m256i& f1) {
    __m256i fy =
        _mm256_slli_epi32(_mm256_and_si256(_mm256_srai_epi32(vy, 9), _mm256_set1_epi32(127)), 8);
    fy = _mm256_or_si256(fy, _mm256_slli_epi32(fy, 16));
    f0 = _mm256_unpacklo_epi32(fy, fy);
    f1 = _mm256_unpackhi_epi32(fy, fy);
}

// Eight samples at positions vx, vy (pixel order). The horizontal blend of each row runs as a
// multiply-add of the texel pair's bytes, each taken less 128, with the weights 128 - fx and fx:
// that gives exactly the row blend of bilerpChannel() less 128 x 128, which cancels in the
// vertical blend's difference and is added back with the rounding.
__attribute__((target("avx2"))) inline void sample8(std::uint8_t* dst, const std::uint8_t* src,
                                                    std::ptrdiff_t pitch, __m256i vx, __m256i vy) {
    alignas(32) std::int32_t off[8];
    _mm256_store_si256(
        reinterpret_cast<__m256i*>(off),
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(vy, 16),
                                            _mm256_set1_epi32(static_cast<std::int32_t>(pitch))),
                         _mm256_slli_epi32(_mm256_srai_epi32(vx, 16), 2)));
    __m256i t0, t1, b0, b1;
    gatherPairs(src, off, t0, t1);
    gatherPairs(src + pitch, off, b0, b1);

    __m256i wx0, wx1, fy0, fy1;
    rowWeights(vx, wx0, wx1);
    columnWeights(vy, fy0, fy1);

    const __m256i r0 = columnBlend(rowBlend(t0, wx0), rowBlend(b0, wx0), fy0);
    const __m256i r1 = columnBlend(rowBlend(t1, wx1), rowBlend(b1, wx1), fy1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_packus_epi16(r0, r1));
}

// Left and right texels of eight samples from a 16-pixel window, byte-interleaved per channel and
// taken less 128: pixels 0, 1, 4, 5 in `lo`, 2, 3, 6, 7 in `hi`. rel holds each sample's left
// texel less the window's start; `second`, `second1` whether it and its right neighbour lie in
// the window's second half.
__attribute__((target("avx2"))) inline void windowPairs(const std::uint8_t* p, __m256i rel,
                                                        __m256i rel1, __m256i second,
                                                        __m256i second1, __m256i& lo, __m256i& hi) {
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i left = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(a, rel),
                                            _mm256_permutevar8x32_epi32(b, rel), second);
    const __m256i right = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(a, rel1),
                                             _mm256_permutevar8x32_epi32(b, rel1), second1);
    lo = _mm256_xor_si256(_mm256_unpacklo_epi8(left, right), bias);
    hi = _mm256_xor_si256(_mm256_unpackhi_epi8(left, right), bias);
}

// Eight samples on one pair of source rows, all their texels within the 16 pixels from `window`
// (top row; the bottom row a pitch on). The texels come out of the window by permutes instead of
// sixteen scattered loads; the arithmetic is sample8()'s. fy0 and fy1 are the vertical weights of
// samples 0, 1, 4, 5 and 2, 3, 6, 7.
__attribute__((target("avx2"))) inline void sampleWindow8(std::uint8_t* dst,
                                                          const std::uint8_t* window,
                                                          std::ptrdiff_t pitch, __m256i rel,
                                                          __m256i vx, __m256i fy0, __m256i fy1) {
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256i rel1 = _mm256_add_epi32(rel, _mm256_set1_epi32(1));
    const __m256i second = _mm256_cmpgt_epi32(rel, seven);
    const __m256i second1 = _mm256_cmpgt_epi32(rel1, seven);
    __m256i t0, t1, b0, b1;
    windowPairs(window, rel, rel1, second, second1, t0, t1);
    windowPairs(window + pitch, rel, rel1, second, second1, b0, b1);

    __m256i wx0, wx1;
    rowWeights(vx, wx0, wx1);
    const __m256i r0 =
        columnBlend(_mm256_maddubs_epi16(wx0, t0), _mm256_maddubs_epi16(wx0, b0), fy0);
    const __m256i r1 =
        columnBlend(_mm256_maddubs_epi16(wx1, t1), _mm256_maddubs_epi16(wx1, b1), fy1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_packus_epi16(r0, r1));
}

// A span moving rightwards along the source rows, at most a little across them (a picture turned
// by a small angle), whose eight-sample groups each reach at most 14 pixels: the groups on one
// pair of source rows whose 16-pixel window lies inside the span's own texels take
// sampleWindow8(), the others sample8(). Returns how many pixels it wrote (whole groups).
__attribute__((target("avx2"))) int spanRowAvx2(std::uint8_t* dst, int n, const std::uint8_t* src,
                                                std::ptrdiff_t pitch, std::int32_t sx,
                                                std::int32_t sy, std::int32_t dsx, std::int32_t dsy,
                                                std::ptrdiff_t ahead) {
    const int first = sx >> 16;
    const int last = static_cast<int>((sx + static_cast<std::int64_t>(n - 1) * dsx) >> 16) + 1;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i vx =
        _mm256_add_epi32(_mm256_set1_epi32(sx), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsx)));
    __m256i vy =
        _mm256_add_epi32(_mm256_set1_epi32(sy), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsy)));
    const __m256i stepX = _mm256_set1_epi32(8 * dsx);
    const __m256i stepY = _mm256_set1_epi32(8 * dsy);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::int32_t x = sx + i * dsx;
        const std::int32_t y = sy + i * dsy;
        const int left = x >> 16;
        const int right = (x + 7 * dsx) >> 16;
        const int row = y >> 16;
        // Windows may not reach past the span's texels: those are the ones known to exist.
        const int start = left + 15 <= last ? left : right - 14;
        if (ahead != 0) {
            fetchAhead(src + static_cast<std::ptrdiff_t>(row) * pitch +
                           4 * static_cast<std::ptrdiff_t>(left),
                       ahead, pitch);
        }
        if (start >= first && (y + 7 * dsy) >> 16 == row) {
            __m256i fy0, fy1;
            columnWeights(vy, fy0, fy1);
            sampleWindow8(dst + 4 * i,
                          src + static_cast<std::ptrdiff_t>(row) * pitch +
                              4 * static_cast<std::ptrdiff_t>(start),
                          pitch,
                          _mm256_sub_epi32(_mm256_srai_epi32(vx, 16), _mm256_set1_epi32(start)), vx,
                          fy0, fy1);
        } else {
            sample8(dst + 4 * i, src, pitch, vx, vy);
        }
        vx = _mm256_add_epi32(vx, stepX);
        vy = _mm256_add_epi32(vy, stepY);
    }
    return i;
}

// Steps up to this reach at most 14 pixels across eight samples.
constexpr std::int32_t kMaxRowStep = 13 * 65536 / 7;
// Spans crossing source rows at most this steeply (a row every 16 pixels) still find most of
// their groups on one pair of rows.
constexpr std::int32_t kMaxRowSlope = 65536 / 16;

}  // namespace

__attribute__((target("avx2"))) void spanBgraAvx2(std::uint8_t* dst, int n, const std::uint8_t* src,
                                                  std::ptrdiff_t pitch, std::int32_t sx,
                                                  std::int32_t sy, std::int32_t dsx,
                                                  std::int32_t dsy, std::ptrdiff_t ahead) {
    // Texel offsets must fit 32 bits; otherwise the 4-wide loop does it all.
    const std::int64_t reach =
        (static_cast<std::int64_t>(sy >> 16) + 8) * std::abs(pitch) +
        (static_cast<std::int64_t>(n) + 8) * std::abs(dsy) / 65536 * std::abs(pitch);
    if (reach > (std::int64_t{1} << 30)) {
        spanBgraSse2(dst, n, src, pitch, sx, sy, dsx, dsy, ahead);
        return;
    }
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int i = 0;
    if (dsx > 0 && dsx <= kMaxRowStep && std::abs(dsy) <= kMaxRowSlope) {
        i = spanRowAvx2(dst, n, src, pitch, sx, sy, dsx, dsy, ahead);
    }
    __m256i vx = _mm256_add_epi32(_mm256_set1_epi32(sx + i * dsx),
                                  _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsx)));
    __m256i vy = _mm256_add_epi32(_mm256_set1_epi32(sy + i * dsy),
                                  _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsy)));
    const __m256i stepX = _mm256_set1_epi32(8 * dsx);
    const __m256i stepY = _mm256_set1_epi32(8 * dsy);
    for (; i + 8 <= n; i += 8) {
        if (ahead != 0) {
            // Eight samples across the rows of a steeper turn reach about two texel lines.
            fetchAhead(texel(src, pitch, sx + i * dsx, sy + i * dsy), ahead, pitch);
            fetchAhead(texel(src, pitch, sx + (i + 4) * dsx, sy + (i + 4) * dsy), ahead, pitch);
        }
        sample8(dst + 4 * i, src, pitch, vx, vy);
        vx = _mm256_add_epi32(vx, stepX);
        vy = _mm256_add_epi32(vy, stepY);
    }
    if (i < n) {
        // The last pixel's position repeats in the lanes past the end.
        const __m256i last = _mm256_min_epi32(lanes, _mm256_set1_epi32(n - i - 1));
        alignas(32) std::uint8_t out[32];
        sample8(out, src, pitch,
                _mm256_add_epi32(_mm256_set1_epi32(sx + i * dsx),
                                 _mm256_mullo_epi32(last, _mm256_set1_epi32(dsx))),
                _mm256_add_epi32(_mm256_set1_epi32(sy + i * dsy),
                                 _mm256_mullo_epi32(last, _mm256_set1_epi32(dsy))));
        std::memcpy(dst + 4 * i, out, static_cast<std::size_t>(4 * (n - i)));
    }
}

__attribute__((target("avx2"))) void sampleBgraAvx2(std::uint8_t* dst, int n,
                                                    const std::uint8_t* src, std::ptrdiff_t pitch,
                                                    const std::int32_t* xs, const std::int32_t* ys,
                                                    std::ptrdiff_t ahead) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        if (ahead != 0) {
            fetchAhead(texel(src, pitch, xs[i], ys[i]), ahead, pitch);
            fetchAhead(texel(src, pitch, xs[i + 4], ys[i + 4]), ahead, pitch);
        }
        sample8(dst + 4 * i, src, pitch,
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + i)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + i)));
    }
    if (i < n) {
        // The last position repeats in the lanes past the end.
        alignas(32) std::int32_t px[8];
        alignas(32) std::int32_t py[8];
        for (int k = 0; k < 8; ++k) {
            const int j = std::min(i + k, n - 1);
            px[k] = xs[j];
            py[k] = ys[j];
        }
        alignas(32) std::uint8_t out[32];
        sample8(out, src, pitch, _mm256_load_si256(reinterpret_cast<const __m256i*>(px)),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(py)));
        std::memcpy(dst + 4 * i, out, static_cast<std::size_t>(4 * (n - i)));
    }
}

void rowBlendScalar(std::int16_t* out, int n, const std::uint8_t* row, std::int32_t sx,
                    std::int32_t dsx) {
    for (int i = 0; i < n; ++i, sx += dsx) {
        const std::uint8_t* t = row + static_cast<std::ptrdiff_t>(sx >> 16) * 4;
        const int fx = fraction7(sx);
        for (int c = 0; c < 4; ++c) {
            out[4 * i + c] =
                static_cast<std::int16_t>((t[c] << 7) + (t[c + 4] - t[c]) * fx - 128 * 128);
        }
    }
}

void columnBlendScalar(std::uint8_t* dst, int n, const std::int16_t* top,
                       const std::int16_t* bottom, int fy) {
    const int fy8 = fy << 8;
    for (int i = 0; i < 4 * n; ++i) {
        const int a = top[i];
        const int v = a + ((((bottom[i] - a) * fy8) >> 16) << 1);
        dst[i] = static_cast<std::uint8_t>((v + 128 * 128 + 64) >> 7);
    }
}

namespace {

// Row blends of samples 0, 1, 4, 5 (r0) and 2, 3, 6, 7 (r1) stored in pixel order.
__attribute__((target("avx2"))) inline void storeInOrder(std::int16_t* out, __m256i r0,
                                                         __m256i r1) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(r0, r1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                        _mm256_permute2x128_si256(r0, r1, 0x31));
}

}  // namespace

// Gathers each sample's texel pair: the mapper hands the regular steps to planned groups, so
// this serves the steps and rows no group can be planned for.
__attribute__((target("avx2"))) void rowBlendAvx2(std::int16_t* out, int n, const std::uint8_t* row,
                                                  std::int32_t sx, std::int32_t dsx) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i vx =
        _mm256_add_epi32(_mm256_set1_epi32(sx), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsx)));
    const __m256i stepX = _mm256_set1_epi32(8 * dsx);
    int i = 0;
    for (; i + 8 <= n; i += 8, vx = _mm256_add_epi32(vx, stepX)) {
        __m256i w0, w1;
        rowWeights(vx, w0, w1);
        alignas(32) std::int32_t off[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(off),
                           _mm256_slli_epi32(_mm256_srai_epi32(vx, 16), 2));
        __m256i t0, t1;
        gatherPairs(row, off, t0, t1);
        storeInOrder(out + 4 * i, rowBlend(t0, w0), rowBlend(t1, w1));
    }
    rowBlendScalar(out + 4 * i, n - i, row, sx + i * dsx, dsx);
}

bool planRowBlendGroup(RowBlendGroup& group, const std::int32_t* xs, int width) {
    if (width < 4) {
        return false;
    }
    int order = 0;
    int power = 1;
    for (int lane = 0; lane < 2; ++lane) {
        const int p = xs[2 * lane] >> 16;
        const int q = xs[2 * lane + 1] >> 16;
        const int start = std::min(std::min(p, q), width - 4);
        if (std::max(p, q) + 1 - start > 3) {
            return false;
        }
        group.offset[lane] = 4 * start;
        for (int k = 0; k < 2; ++k) {
            const std::int32_t x = xs[2 * lane + k];
            const int fx = fraction7(x);
            order += ((x >> 16) - start) * power;
            power *= 3;
            group.weights[2 * (2 * lane + k)] = static_cast<std::uint8_t>(128 - fx);
            group.weights[2 * (2 * lane + k) + 1] = static_cast<std::uint8_t>(fx);
        }
    }
    group.order = static_cast<std::uint8_t>(order);
    return true;
}

namespace {

// The byte orders of every RowBlendGroup::order: in each 16-byte half (one 4-pixel load), the
// left and right texel of its two samples side by side per channel.
struct GroupOrders {
    alignas(32) std::uint8_t bytes[81][32]{};
    constexpr GroupOrders() {
        for (int order = 0; order < 81; ++order) {
            int rest = order;
            for (int sample = 0; sample < 4; ++sample) {
                const int r = rest % 3;
                rest /= 3;
                for (int c = 0; c < 4; ++c) {
                    bytes[order][8 * sample + 2 * c] = static_cast<std::uint8_t>(4 * r + c);
                    bytes[order][8 * sample + 2 * c + 1] = static_cast<std::uint8_t>(4 * r + 4 + c);
                }
            }
        }
    }
};

// Made by the compiler: the loops read it without a first-use check.
constexpr GroupOrders kGroupOrders;

// A planned group's byte order and its weight bytes, spread once per channel (samples 0, 1 in
// the first half, 2, 3 in the second).
__attribute__((target("avx2"))) inline __m256i groupOrder(const RowBlendGroup& g) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kGroupOrders.bytes[g.order]));
}

__attribute__((target("avx2"))) inline __m256i groupWeights(const RowBlendGroup& g) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3, 4, 5, 4,
                                            5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7);
    std::int64_t packed;
    std::memcpy(&packed, g.weights, sizeof packed);
    return _mm256_shuffle_epi8(_mm256_set1_epi64x(packed), spread);
}

// The 16 row blends of a group whose two 4-pixel loads start at `first` and `second`.
__attribute__((target("avx2"))) inline __m256i groupBlend(const std::uint8_t* first,
                                                          const std::uint8_t* second, __m256i order,
                                                          __m256i weights) {
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i texels = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
    return _mm256_maddubs_epi16(weights,
                                _mm256_xor_si256(_mm256_shuffle_epi8(texels, order), bias));
}

}  // namespace

__attribute__((target("avx2"))) void rowBlendGroupsAvx2(std::int16_t* out, int count,
                                                        const std::uint8_t* row,
                                                        const RowBlendGroup* groups,
                                                        const std::uint8_t* next) {
    for (int i = 0; i < count; ++i) {
        const RowBlendGroup& g = groups[i];
        if (next != nullptr) {
            _mm_prefetch(reinterpret_cast<const char*>(next + g.offset[0]), _MM_HINT_T0);
        }
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out + 16 * i),
            groupBlend(row + g.offset[0], row + g.offset[1], groupOrder(g), groupWeights(g)));
    }
}

__attribute__((target("avx2"))) void rowsBlendGroupsAvx2(std::int16_t* out,
                                                         std::ptrdiff_t outStride, int rows,
                                                         int count, const std::uint8_t* row,
                                                         std::ptrdiff_t pitch,
                                                         const RowBlendGroup* groups) {
    for (int i = 0; i < count; ++i) {
        const RowBlendGroup& g = groups[i];
        const __m256i order = groupOrder(g);
        const __m256i weights = groupWeights(g);
        const std::uint8_t* first = row + g.offset[0];
        const std::uint8_t* second = row + g.offset[1];
        std::int16_t* o = out + 16 * i;
        for (int r = 0; r < rows; ++r, first += pitch, second += pitch, o += outStride) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                                groupBlend(first, second, order, weights));
        }
    }
}

namespace {

// The column blend of pixels i to i + 7. Packing gives pixels 0, 1, 4, 5, 2, 3, 6, 7 in 8-byte
// pieces; the permute puts them in order.
__attribute__((target("avx2"))) inline __m256i columnEight(const std::int16_t* top,
                                                           const std::int16_t* bottom, int i,
                                                           __m256i fy) {
    const auto* a = reinterpret_cast<const __m256i*>(top + 4 * i);
    const auto* b = reinterpret_cast<const __m256i*>(bottom + 4 * i);
    const __m256i r0 = columnBlend(_mm256_loadu_si256(a), _mm256_loadu_si256(b), fy);
    const __m256i r1 = columnBlend(_mm256_loadu_si256(a + 1), _mm256_loadu_si256(b + 1), fy);
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), _MM_SHUFFLE(3, 1, 2, 0));
}

}  // namespace

__attribute__((target("avx2"))) void columnBlendAvx2(std::uint8_t* dst, int n,
                                                     const std::int16_t* top,
                                                     const std::int16_t* bottom, int fy) {
    if (n < 8) {
        columnBlendScalar(dst, n, top, bottom, fy);
        return;
    }
    const __m256i vfy = _mm256_set1_epi16(static_cast<short>(fy << 8));
    const auto at = [dst](int i) { return reinterpret_cast<__m256i*>(dst + 4 * i); };
    // Plain stores: a frame written past the cache (streamed) left every next frame to be
    // written to memory again, and its reader to fetch it back, where the cache holds much of it.
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_si256(at(i), columnEight(top, bottom, i, vfy));
    }
    if (i < n) {
        _mm256_storeu_si256(at(n - 8), columnEight(top, bottom, n - 8, vfy));
    }
}

namespace {

__attribute__((target("avx2"))) bool projectExactAvx2(const ProjectiveRow& row, int x, int n,
                                                      std::int32_t* xs, std::int32_t* ys,
                                                      int stride = 1) {
    const __m256d lo = _mm256_set1_pd(-65536.0);
    const __m256d hiX = _mm256_set1_pd(row.width * 65536.0);
    const __m256d hiY = _mm256_set1_pd(row.height * 65536.0);
    const __m256d scale = _mm256_set1_pd(65536.0);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d h0 = _mm256_set1_pd(row.h0);
    const __m256d h3 = _mm256_set1_pd(row.h3);
    const __m256d h6 = _mm256_set1_pd(row.h6);
    const __m256d rs = _mm256_set1_pd(row.s);
    const __m256d rt = _mm256_set1_pd(row.t);
    const __m256d rw = _mm256_set1_pd(row.w);
    const __m256d ox = _mm256_set1_pd(row.ox);
    const __m128i limitX = _mm_set1_epi32((row.width - 1) * 65536);
    const __m128i limitY = _mm_set1_epi32((row.height - 1) * 65536);
    const __m128i flip = _mm_set1_epi32(INT32_MIN);
    __m128i outside = _mm_setzero_si128();
    const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i strided = _mm_mullo_epi32(lanes, _mm_set1_epi32(stride));
    for (int i = 0; i < n; i += 4) {
        const __m256d px =
            _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(x + i * stride), strided));
        const __m256d dx = _mm256_sub_pd(_mm256_add_pd(px, half), ox);
        const __m256d w = _mm256_add_pd(_mm256_mul_pd(h6, dx), rw);
        const __m256d r = _mm256_div_pd(one, w);
        const __m256d ps = _mm256_add_pd(
            _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(h0, dx), rs), r), scale), half);
        const __m256d pt = _mm256_add_pd(
            _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(h3, dx), rt), r), scale), half);
        // max() gives its second operand for NaN; a zero w counts as far outside.
        const __m256d none = _mm256_cmp_pd(w, zero, _CMP_EQ_OQ);
        const __m256d fs =
            _mm256_blendv_pd(_mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(ps, lo), hiX)), lo, none);
        const __m256d ft =
            _mm256_blendv_pd(_mm256_floor_pd(_mm256_min_pd(_mm256_max_pd(pt, lo), hiY)), lo, none);
        const __m128i is = _mm256_cvtpd_epi32(fs);
        const __m128i it = _mm256_cvtpd_epi32(ft);
        // Unsigned p < limit, through signed compares of the values with the top bit flipped.
        const __m128i inX = _mm_cmplt_epi32(_mm_xor_si128(is, flip), _mm_xor_si128(limitX, flip));
        const __m128i inY = _mm_cmplt_epi32(_mm_xor_si128(it, flip), _mm_xor_si128(limitY, flip));
        const __m128i valid = _mm_cmplt_epi32(lanes, _mm_set1_epi32(n - i));
        outside = _mm_or_si128(outside, _mm_andnot_si128(_mm_and_si128(inX, inY), valid));
        if (i + 4 <= n) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(xs + i), is);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(ys + i), it);
        } else {
            alignas(16) std::int32_t bx[4];
            alignas(16) std::int32_t by[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(bx), is);
            _mm_store_si128(reinterpret_cast<__m128i*>(by), it);
            std::memcpy(xs + i, bx, static_cast<std::size_t>(4 * (n - i)));
            std::memcpy(ys + i, by, static_cast<std::size_t>(4 * (n - i)));
        }
    }
    return _mm_movemask_epi8(outside) == 0;
}

}  // namespace

__attribute__((target("avx2"))) bool projectAvx2(const ProjectiveRow& row, int x, int n,
                                                 std::int32_t* xs, std::int32_t* ys) {
    return projectByGroups(
        row, x, n, xs, ys, projectExactAvx2,
        [](const GroupEnds& ends, int from, int count, std::int32_t* gx,
           std::int32_t* gy) __attribute__((target("avx2"))) {
            const __m256i half = _mm256_set1_epi32(kGroup / 2);
            const __m256i vs0 = _mm256_set1_epi32(ends.s0);
            const __m256i vt0 = _mm256_set1_epi32(ends.t0);
            const __m256i vds = _mm256_set1_epi32(ends.ds);
            const __m256i vdt = _mm256_set1_epi32(ends.dt);
            alignas(32) std::int32_t bx[kGroup];
            alignas(32) std::int32_t by[kGroup];
            const bool whole = from == 0 && count == kGroup;
            for (int h = 0; h < kGroup; h += 8) {
                const __m256i lanes =
                    _mm256_setr_epi32(h, h + 1, h + 2, h + 3, h + 4, h + 5, h + 6, h + 7);
                const __m256i ps = _mm256_add_epi32(
                    vs0, _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(vds, lanes), half),
                                           kGroupShift));
                const __m256i pt = _mm256_add_epi32(
                    vt0, _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(vdt, lanes), half),
                                           kGroupShift));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(whole ? gx + h : bx + h), ps);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(whole ? gy + h : by + h), pt);
            }
            if (!whole) {
                std::memcpy(gx, bx + from, static_cast<std::size_t>(4 * count));
                std::memcpy(gy, by + from, static_cast<std::size_t>(4 * count));
            }
        });
}

bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void fillCells(std::uint16_t* cells, int n, std::uint16_t value) {
    const __m128i v = _mm_set1_epi16(static_cast<short>(value));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i), v);
    }
    for (; i < n; ++i) {
        cells[i] = value;
    }
}

int zeroCells(const std::uint16_t* cells, int n) {
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i));
        const int m = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
        if (m != 0xFFFF) {
            return i + __builtin_ctz(static_cast<unsigned>(~m)) / 2;
        }
    }
    while (i < n && cells[i] == 0) {
        ++i;
    }
    return i;
}

}  // namespace pm::detail
