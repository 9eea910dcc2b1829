#include "export/plugins/ffmpeg/I420Converter.h"

#include <immintrin.h>

#include <cmath>

namespace pm::exporters {

namespace {

constexpr int kShift = 15;
constexpr int kLumaBias = (16 << kShift) + (1 << (kShift - 1));
// Chroma weights apply to the sum of four pixels: two more bits to drop.
constexpr int kChromaBias = (128 << (kShift + 2)) + (1 << (kShift + 1));

std::int16_t fixed(double v) {
    return static_cast<std::int16_t>(std::lround(v * (1 << kShift)));
}

I420Converter::Weights weightsOf(YuvMatrix matrix) {
    const double kr = matrix == YuvMatrix::Bt709 ? 0.2126 : 0.299;
    const double kb = matrix == YuvMatrix::Bt709 ? 0.0722 : 0.114;
    const double kg = 1.0 - kr - kb;
    const double luma = 219.0 / 255.0;
    const double chroma = 224.0 / 255.0;
    I420Converter::Weights w{};
    w.y[0] = fixed(kb * luma);
    w.y[1] = fixed(kg * luma);
    w.y[2] = fixed(kr * luma);
    // Blue for U and red for V weigh 0.5; the others are rounded so that each row sums to zero
    // and grey maps to exactly 128.
    w.u[0] = fixed(0.5 * chroma);
    w.u[2] = fixed(-0.5 * kr / (1.0 - kb) * chroma);
    w.u[1] = static_cast<std::int16_t>(-w.u[0] - w.u[2]);
    w.v[2] = fixed(0.5 * chroma);
    w.v[0] = fixed(-0.5 * kb / (1.0 - kr) * chroma);
    w.v[1] = static_cast<std::int16_t>(-w.v[0] - w.v[2]);
    return w;
}

inline std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline std::uint8_t lumaOf(const std::uint8_t* p, const std::int16_t* w) {
    return clampByte((w[0] * p[0] + w[1] * p[1] + w[2] * p[2] + kLumaBias) >> kShift);
}

// Columns [x, width) of one pair of rows; row1 may be row0 and y1 null on an odd last row.
void convertPlain(const std::uint8_t* row0, const std::uint8_t* row1, int x, int width,
                  std::uint8_t* y0, std::uint8_t* y1, std::uint8_t* u, std::uint8_t* v,
                  const I420Converter::Weights& w) {
    for (; x < width; x += 2) {
        const int x1 = x + 1 < width ? x + 1 : x;
        const std::uint8_t* p[4] = {row0 + 4 * x, row0 + 4 * x1, row1 + 4 * x, row1 + 4 * x1};
        y0[x] = lumaOf(p[0], w.y);
        if (x1 != x) {
            y0[x1] = lumaOf(p[1], w.y);
        }
        if (y1) {
            y1[x] = lumaOf(p[2], w.y);
            if (x1 != x) {
                y1[x1] = lumaOf(p[3], w.y);
            }
        }
        int sum[3] = {0, 0, 0};
        for (const std::uint8_t* q : p) {
            for (int c = 0; c < 3; ++c) {
                sum[c] += q[c];
            }
        }
        u[x / 2] = clampByte((w.u[0] * sum[0] + w.u[1] * sum[1] + w.u[2] * sum[2] + kChromaBias) >>
                             (kShift + 2));
        v[x / 2] = clampByte((w.v[0] * sum[0] + w.v[1] * sum[1] + w.v[2] * sum[2] + kChromaBias) >>
                             (kShift + 2));
    }
}

// The 16-bit weights a and b as one 32-bit word, a in its low half.
inline int weightPair(std::int16_t a, std::int16_t b) {
    return static_cast<int>(static_cast<std::uint16_t>(a) |
                            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

// The 16-bit weights a and b in every 32-bit word.
__attribute__((target("avx2"))) inline __m256i pairLanes(std::int16_t a, std::int16_t b) {
    return _mm256_set1_epi32(weightPair(a, b));
}

// The weights of B, G, R (and 0 for alpha) repeated for the four pixels a register holds in 16-bit
// lanes; multiply-add then gives B w0 + G w1 and R w2 per pixel.
__attribute__((target("avx2"))) inline __m256i weightLanes(const std::int16_t* w) {
    const int bg = weightPair(w[0], w[1]);
    const int r = weightPair(w[2], 0);
    return _mm256_setr_epi32(bg, r, bg, r, bg, r, bg, r);
}

// Eight luma values (32-bit, in pixel order) of the eight pixels in p: blue and green of each
// pixel side by side in 16 bits, red alone, each multiply-added with its weights.
__attribute__((target("avx2"))) inline __m256i luma8(__m256i p, __m256i wbg, __m256i wr,
                                                     __m256i bias) {
    constexpr char z = static_cast<char>(0x80);
    const __m256i blueGreen = _mm256_setr_epi8(0, z, 1, z, 4, z, 5, z, 8, z, 9, z, 12, z, 13, z, 0,
                                               z, 1, z, 4, z, 5, z, 8, z, 9, z, 12, z, 13, z);
    const __m256i red = _mm256_setr_epi8(2, z, z, z, 6, z, z, z, 10, z, z, z, 14, z, z, z, 2, z, z,
                                         z, 6, z, z, z, 10, z, z, z, 14, z, z, z);
    const __m256i bg = _mm256_madd_epi16(_mm256_shuffle_epi8(p, blueGreen), wbg);
    const __m256i r = _mm256_madd_epi16(_mm256_shuffle_epi8(p, red), wr);
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(bg, r), bias), kShift);
}

// 32 luma bytes in pixel order from the eight-pixel groups a, b, c, d.
__attribute__((target("avx2"))) inline __m256i lumaBytes(__m256i a, __m256i b, __m256i c,
                                                         __m256i d) {
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The 2 x 2 sums of the eight pixels top and bottom: four sums in 16-bit lanes, in the order
// 0, 1 | 2, 3 across the register's halves. Each channel of two neighbouring pixels is put side by
// side and added by a multiply-add with ones.
__attribute__((target("avx2"))) inline __m256i blockSums(__m256i top, __m256i bottom) {
    const __m256i pairs = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0,
                                           4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i ones = _mm256_set1_epi8(1);
    return _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(top, pairs), ones),
                            _mm256_maddubs_epi16(_mm256_shuffle_epi8(bottom, pairs), ones));
}

// Eight chroma values of two groups of block sums: samples 0, 1, 4, 5 | 2, 3, 6, 7.
__attribute__((target("avx2"))) inline __m256i chroma8(__m256i a, __m256i b, __m256i w,
                                                       __m256i bias) {
    const __m256i v = _mm256_hadd_epi32(_mm256_madd_epi16(a, w), _mm256_madd_epi16(b, w));
    return _mm256_srai_epi32(_mm256_add_epi32(v, bias), kShift + 2);
}

// Columns [0, n) of one pair of rows, n a multiple of 32.
__attribute__((target("avx2"))) void convertAvx2(const std::uint8_t* row0, const std::uint8_t* row1,
                                                 int n, std::uint8_t* y0, std::uint8_t* y1,
                                                 std::uint8_t* u, std::uint8_t* v,
                                                 const I420Converter::Weights& w) {
    const __m256i wbg = pairLanes(w.y[0], w.y[1]);
    const __m256i wr = pairLanes(w.y[2], 0);
    const __m256i wu = weightLanes(w.u);
    const __m256i wv = weightLanes(w.v);
    const __m256i lumaBias = _mm256_set1_epi32(kLumaBias);
    const __m256i chromaBias = _mm256_set1_epi32(kChromaBias);
    const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0,
                                           1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    for (int x = 0; x < n; x += 32) {
        const auto* s0 = reinterpret_cast<const __m256i*>(row0 + 4 * x);
        const auto* s1 = reinterpret_cast<const __m256i*>(row1 + 4 * x);
        const __m256i t[4] = {_mm256_loadu_si256(s0), _mm256_loadu_si256(s0 + 1),
                              _mm256_loadu_si256(s0 + 2), _mm256_loadu_si256(s0 + 3)};
        const __m256i b[4] = {_mm256_loadu_si256(s1), _mm256_loadu_si256(s1 + 1),
                              _mm256_loadu_si256(s1 + 2), _mm256_loadu_si256(s1 + 3)};
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(y0 + x),
            lumaBytes(luma8(t[0], wbg, wr, lumaBias), luma8(t[1], wbg, wr, lumaBias),
                      luma8(t[2], wbg, wr, lumaBias), luma8(t[3], wbg, wr, lumaBias)));
        if (y1) {
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(y1 + x),
                lumaBytes(luma8(b[0], wbg, wr, lumaBias), luma8(b[1], wbg, wr, lumaBias),
                          luma8(b[2], wbg, wr, lumaBias), luma8(b[3], wbg, wr, lumaBias)));
        }
        const __m256i s[4] = {blockSums(t[0], b[0]), blockSums(t[1], b[1]), blockSums(t[2], b[2]),
                              blockSums(t[3], b[3])};
        // Samples 0, 1, 4, 5, 8, 9, 12, 13 | 2, 3, 6, 7, 10, 11, 14, 15 of U, then of V.
        const __m256i us = _mm256_packs_epi32(chroma8(s[0], s[1], wu, chromaBias),
                                              chroma8(s[2], s[3], wu, chromaBias));
        const __m256i vs = _mm256_packs_epi32(chroma8(s[0], s[1], wv, chromaBias),
                                              chroma8(s[2], s[3], wv, chromaBias));
        // U of both halves in the low half, V in the high half, then each in sample order.
        const __m256i uv = _mm256_shuffle_epi8(
            _mm256_permute4x64_epi64(_mm256_packus_epi16(us, vs), _MM_SHUFFLE(3, 1, 2, 0)), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(uv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(uv, 1));
    }
}

}  // namespace

I420Converter::I420Converter(YuvMatrix matrix, bool allowVector)
    : m_weights(weightsOf(matrix)), m_vector(allowVector && __builtin_cpu_supports("avx2")) {}

void I420Converter::convert(const std::uint8_t* bgra, std::ptrdiff_t pitch, int width, int height,
                            std::uint8_t* const planes[3], const int strides[3]) const {
    for (int y = 0; y < height; y += 2) {
        const bool pair = y + 1 < height;
        const std::uint8_t* row0 = bgra + y * pitch;
        const std::uint8_t* row1 = pair ? row0 + pitch : row0;
        std::uint8_t* y0 = planes[0] + static_cast<std::ptrdiff_t>(y) * strides[0];
        std::uint8_t* y1 = pair ? y0 + strides[0] : nullptr;
        std::uint8_t* u = planes[1] + static_cast<std::ptrdiff_t>(y / 2) * strides[1];
        std::uint8_t* v = planes[2] + static_cast<std::ptrdiff_t>(y / 2) * strides[2];
        int x = 0;
        if (m_vector) {
            x = width & ~31;
            convertAvx2(row0, row1, x, y0, y1, u, v, m_weights);
        }
        convertPlain(row0, row1, x, width, y0, y1, u, v, m_weights);
    }
}

}  // namespace pm::exporters
