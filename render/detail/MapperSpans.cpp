#include "render/detail/MapperSpans.h"

#include <immintrin.h>

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

__attribute__((target("avx2"))) inline __m256i blendLanes256(__m256i c00, __m256i c01, __m256i c10,
                                                             __m256i c11, __m256i fx, __m256i fy) {
    const __m256i top = _mm256_add_epi16(_mm256_slli_epi16(c00, 7),
                                         _mm256_mullo_epi16(_mm256_sub_epi16(c01, c00), fx));
    const __m256i bottom = _mm256_add_epi16(_mm256_slli_epi16(c10, 7),
                                            _mm256_mullo_epi16(_mm256_sub_epi16(c11, c10), fx));
    const __m256i v = _mm256_add_epi16(
        top, _mm256_slli_epi16(_mm256_mulhi_epi16(_mm256_sub_epi16(bottom, top), fy), 1));
    return _mm256_srli_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(64)), 7);
}

__attribute__((target("avx2"))) inline __m256i evenPixels256(__m256i a, __m256i b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

__attribute__((target("avx2"))) inline __m256i oddPixels256(__m256i a, __m256i b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

}  // namespace

void spanBgraScalar(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                    std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy) {
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = sampleInterior(src, pitch, sx, sy);
        std::memcpy(dst + 4 * i, &p, 4);
        sx += dsx;
        sy += dsy;
    }
}

void spanBgraSse2(std::uint8_t* dst, int n, const std::uint8_t* src, std::ptrdiff_t pitch,
                  std::int32_t sx, std::int32_t sy, std::int32_t dsx, std::int32_t dsy) {
    const __m128i mask = _mm_set1_epi32(0x00FF00FF);
    const __m128i m127 = _mm_set1_epi32(127);
    __m128i vsx = _mm_setr_epi32(sx, sx + dsx, sx + 2 * dsx, sx + 3 * dsx);
    __m128i vsy = _mm_setr_epi32(sy, sy + dsy, sy + 2 * dsy, sy + 3 * dsy);
    const __m128i stepX = _mm_set1_epi32(4 * dsx);
    const __m128i stepY = _mm_set1_epi32(4 * dsy);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const std::uint8_t* p0 = texel(src, pitch, sx, sy);
        const std::uint8_t* p1 = texel(src, pitch, sx + dsx, sy + dsy);
        const std::uint8_t* p2 = texel(src, pitch, sx + 2 * dsx, sy + 2 * dsy);
        const std::uint8_t* p3 = texel(src, pitch, sx + 3 * dsx, sy + 3 * dsy);
        sx += 4 * dsx;
        sy += 4 * dsy;
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
        vsx = _mm_add_epi32(vsx, stepX);
        vsy = _mm_add_epi32(vsy, stepY);

        const __m128i rb = blendLanes(_mm_and_si128(c00, mask), _mm_and_si128(c01, mask),
                                      _mm_and_si128(c10, mask), _mm_and_si128(c11, mask), fx, fy);
        const __m128i ga = blendLanes(_mm_srli_epi16(c00, 8), _mm_srli_epi16(c01, 8),
                                      _mm_srli_epi16(c10, 8), _mm_srli_epi16(c11, 8), fx, fy);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                         _mm_or_si128(rb, _mm_slli_epi16(ga, 8)));
    }
    spanBgraScalar(dst + 4 * i, n - i, src, pitch, sx, sy, dsx, dsy);
}

__attribute__((target("avx2"))) void spanBgraAvx2(std::uint8_t* dst, int n, const std::uint8_t* src,
                                                  std::ptrdiff_t pitch, std::int32_t sx,
                                                  std::int32_t sy, std::int32_t dsx,
                                                  std::int32_t dsy) {
    // Texel offsets must fit the gather's 32-bit indices; otherwise the 4-wide loop does it all.
    const std::int64_t reach =
        (static_cast<std::int64_t>(sy >> 16) + 8) * std::abs(pitch) +
        (static_cast<std::int64_t>(n) + 8) * std::abs(dsy) / 65536 * std::abs(pitch);
    if (reach > (std::int64_t{1} << 30)) {
        spanBgraSse2(dst, n, src, pitch, sx, sy, dsx, dsy);
        return;
    }
    const __m256i mask = _mm256_set1_epi32(0x00FF00FF);
    const __m256i m127 = _mm256_set1_epi32(127);
    const __m256i vpitch = _mm256_set1_epi32(static_cast<int>(pitch));
    // Pixels 0, 1, 4, 5 in one gather and 2, 3, 6, 7 in the other, so that the in-lane shuffles
    // below give the pixels in order.
    const __m256i lanes = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    __m256i vsx =
        _mm256_add_epi32(_mm256_set1_epi32(sx), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsx)));
    __m256i vsy =
        _mm256_add_epi32(_mm256_set1_epi32(sy), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(dsy)));
    const __m256i stepX = _mm256_set1_epi32(8 * dsx);
    const __m256i stepY = _mm256_set1_epi32(8 * dsy);
    const auto* top = reinterpret_cast<const long long*>(src);
    const auto* bottom = reinterpret_cast<const long long*>(src + pitch);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i offsets =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(vsy, 16), vpitch),
                             _mm256_slli_epi32(_mm256_srai_epi32(vsx, 16), 2));
        const __m128i first = _mm256_castsi256_si128(offsets);
        const __m128i second = _mm256_extracti128_si256(offsets, 1);
        const __m256i t0 = _mm256_i32gather_epi64(top, first, 1);
        const __m256i t1 = _mm256_i32gather_epi64(top, second, 1);
        const __m256i b0 = _mm256_i32gather_epi64(bottom, first, 1);
        const __m256i b1 = _mm256_i32gather_epi64(bottom, second, 1);
        const __m256i c00 = evenPixels256(t0, t1);
        const __m256i c01 = oddPixels256(t0, t1);
        const __m256i c10 = evenPixels256(b0, b1);
        const __m256i c11 = oddPixels256(b0, b1);

        // fx, fy in pixel order: lanes hold pixels 0, 1, 4, 5, 2, 3, 6, 7.
        const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
        const __m256i ox = _mm256_permutevar8x32_epi32(vsx, order);
        const __m256i oy = _mm256_permutevar8x32_epi32(vsy, order);
        __m256i fx = _mm256_and_si256(_mm256_srai_epi32(ox, 9), m127);
        fx = _mm256_or_si256(fx, _mm256_slli_epi32(fx, 16));
        __m256i fy = _mm256_slli_epi32(_mm256_and_si256(_mm256_srai_epi32(oy, 9), m127), 8);
        fy = _mm256_or_si256(fy, _mm256_slli_epi32(fy, 16));
        vsx = _mm256_add_epi32(vsx, stepX);
        vsy = _mm256_add_epi32(vsy, stepY);

        const __m256i rb =
            blendLanes256(_mm256_and_si256(c00, mask), _mm256_and_si256(c01, mask),
                          _mm256_and_si256(c10, mask), _mm256_and_si256(c11, mask), fx, fy);
        const __m256i ga =
            blendLanes256(_mm256_srli_epi16(c00, 8), _mm256_srli_epi16(c01, 8),
                          _mm256_srli_epi16(c10, 8), _mm256_srli_epi16(c11, 8), fx, fy);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i),
                            _mm256_or_si256(rb, _mm256_slli_epi16(ga, 8)));
    }
    spanBgraSse2(dst + 4 * i, n - i, src, pitch, sx + i * dsx, sy + i * dsy, dsx, dsy);
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
