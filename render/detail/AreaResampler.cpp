#include "render/detail/AreaResampler.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "render/PerfKit.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PM_AREA_SIMD 1
#else
#define PM_AREA_SIMD 0
#endif

namespace pm::detail {

namespace {

// The pixel library turns an exact sum into a byte as trunc(sum × (1 / area) + 2^-43); the same
// operations on the same exact sums give the same bytes.
constexpr double kNudge = 0x1p-43;
// Row and column weights go through 16-bit multipliers.
constexpr std::uint32_t kMaxSide = 32767;
// Row pairs summed in registers in one pass over a row.
constexpr std::size_t kMaxPairs = 4;

#if PM_AREA_SIMD

// Column sums of one destination row: sums[4i + c] = Σ weight[k] × rows[k][4i + c]. Each sum
// stays below 255 × source height, well inside 32 bits. Rows are taken in pairs, so that one
// multiply-add weighs two rows; a narrow job stores its sums in 16 bits.
template <typename Sum>
void sumRows(Sum* sums, const std::uint8_t* const* rows, const std::int32_t* weights,
             std::size_t count, std::uint32_t width) {
    const __m128i zero = _mm_setzero_si128();
    const std::size_t pairs = (count + 1) / 2;
    const std::uint8_t* first[kMaxPairs];
    const std::uint8_t* second[kMaxPairs];
    __m128i pairWeights[kMaxPairs];
    std::uint32_t done = 0;
    // Long columns of rows (a proxy's) go in several passes (16-bit sums never need more).
    for (std::size_t start = 0; start < pairs; start += kMaxPairs) {
        const std::size_t n = std::min(kMaxPairs, pairs - start);
        for (std::size_t p = 0; p < n; ++p) {
            const std::size_t k = 2 * (start + p);
            const bool pair = k + 1 < count;
            first[p] = rows[k];
            second[p] = pair ? rows[k + 1] : rows[k];
            const auto wa = static_cast<std::uint32_t>(weights[k]);
            const auto wb = pair ? static_cast<std::uint32_t>(weights[k + 1]) : 0u;
            pairWeights[p] = _mm_set1_epi32(static_cast<std::int32_t>(wb << 16 | wa));
        }
        const bool add = start > 0;
        std::uint32_t i = 0;
        for (; i + 4 <= width; i += 4) {
            __m128i s[4];
            if (add && sizeof(Sum) == 4) {
                for (int q = 0; q < 4; ++q) {
                    s[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 4 * i) + q);
                }
            } else {
                s[0] = s[1] = s[2] = s[3] = zero;
            }
            for (std::size_t p = 0; p < n; ++p) {
                const __m128i va =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(first[p] + 4 * i));
                const __m128i vb =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(second[p] + 4 * i));
                const __m128i lo = _mm_unpacklo_epi8(va, vb);
                const __m128i hi = _mm_unpackhi_epi8(va, vb);
                const __m128i w = pairWeights[p];
                s[0] = _mm_add_epi32(s[0], _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
                s[1] = _mm_add_epi32(s[1], _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
                s[2] = _mm_add_epi32(s[2], _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
                s[3] = _mm_add_epi32(s[3], _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
            }
            if constexpr (sizeof(Sum) == 4) {
                for (int q = 0; q < 4; ++q) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + 4 * i) + q, s[q]);
                }
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + 4 * i),
                                 _mm_packs_epi32(s[0], s[1]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + 4 * i + 8),
                                 _mm_packs_epi32(s[2], s[3]));
            }
        }
        done = i;
    }
    for (std::uint32_t i = done; i < width; ++i) {
        for (std::uint32_t c = 0; c < 4; ++c) {
            std::int32_t v = 0;
            for (std::size_t k = 0; k < count; ++k) {
                v += weights[k] * rows[k][4 * i + c];
            }
            sums[4 * i + c] = static_cast<Sum>(v);
        }
    }
}

inline void storePixel(std::uint8_t* out, __m128i values) {
    values = _mm_packs_epi32(values, values);
    values = _mm_packus_epi16(values, values);
    const auto pixel = static_cast<std::uint32_t>(_mm_cvtsi128_si32(values));
    std::memcpy(out, &pixel, 4);
}

// Destination pixel x weighs `taps` consecutive column sums from firstColumn[x] with
// weights[x·taps ..]; pixels with fewer taps have zero weights at the end. A fixed count keeps
// the loop free of branches the processor cannot foresee.
template <std::uint32_t Fixed>
void sumColumnsSse2(std::uint8_t* out, const std::int32_t* sums, const std::uint32_t* firstColumn,
                    std::uint32_t runtimeTaps, const double* weights, std::uint32_t width,
                    double reciprocal) {
    const std::uint32_t taps = Fixed != 0 ? Fixed : runtimeTaps;
    const __m128d r = _mm_set1_pd(reciprocal);
    const __m128d nudge = _mm_set1_pd(kNudge);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int32_t* c = sums + std::size_t{4} * firstColumn[x];
        const double* w = weights + std::size_t{x} * taps;
        __m128d low = _mm_setzero_pd();
        __m128d high = _mm_setzero_pd();
        for (std::uint32_t t = 0; t < taps; ++t) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4 * t));
            const __m128d wt = _mm_set1_pd(w[t]);
            low = _mm_add_pd(low, _mm_mul_pd(_mm_cvtepi32_pd(v), wt));
            high = _mm_add_pd(high, _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE)), wt));
        }
        const __m128i a = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(low, r), nudge));
        const __m128i b = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(high, r), nudge));
        storePixel(out + 4 * x, _mm_unpacklo_epi64(a, b));
    }
}

template <std::uint32_t Fixed>
__attribute__((target("avx2"))) void sumColumnsAvx2(std::uint8_t* out, const std::int32_t* sums,
                                                    const std::uint32_t* firstColumn,
                                                    std::uint32_t runtimeTaps,
                                                    const double* weights, std::uint32_t width,
                                                    double reciprocal) {
    const std::uint32_t taps = Fixed != 0 ? Fixed : runtimeTaps;
    const __m256d r = _mm256_set1_pd(reciprocal);
    const __m256d nudge = _mm256_set1_pd(kNudge);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int32_t* c = sums + std::size_t{4} * firstColumn[x];
        const double* w = weights + std::size_t{x} * taps;
        __m256d acc = _mm256_setzero_pd();
        for (std::uint32_t t = 0; t < taps; ++t) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4 * t));
            acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_cvtepi32_pd(v), _mm256_set1_pd(w[t])));
        }
        storePixel(out + 4 * x, _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(acc, r), nudge)));
    }
}

// The narrow sums are below 2^24 and their divisor small, so single precision turns them into
// bytes exactly too: with S / A = q + f, the product's error stays below 2^-15, under the nudge
// of 2^-14, and f, a multiple of 1 / A, stays below 1 − 2^-13 when A ≤ kSingleArea.
constexpr std::uint64_t kSingleArea = 8192;
constexpr float kSingleNudge = 0x1p-14f;

template <std::uint32_t Fixed, bool Single>
__attribute__((target("avx2"))) void sumColumnsNarrow(std::uint8_t* out, const std::int16_t* sums,
                                                      const std::uint32_t* firstColumn,
                                                      std::uint32_t runtimePairs,
                                                      const std::int32_t* pairWeights,
                                                      std::uint32_t width, double reciprocal) {
    const std::uint32_t pairs = Fixed != 0 ? Fixed : runtimePairs;
    // Two columns' sums (B G R A B G R A) become channel pairs (B B G G R R A A).
    const __m128i order = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256d r = _mm256_set1_pd(reciprocal);
    const __m256d nudge = _mm256_set1_pd(kNudge);
    const __m128 rSingle = _mm_set1_ps(static_cast<float>(reciprocal));
    const __m128 nudgeSingle = _mm_set1_ps(kSingleNudge);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int16_t* c = sums + std::size_t{4} * firstColumn[x];
        const std::int32_t* w = pairWeights + std::size_t{x} * pairs;
        __m128i acc = _mm_setzero_si128();
        for (std::uint32_t p = 0; p < pairs; ++p) {
            const __m128i v = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * p)), order);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_set1_epi32(w[p])));
        }
        if constexpr (Single) {
            storePixel(out + 4 * x, _mm_cvttps_epi32(_mm_add_ps(
                                        _mm_mul_ps(_mm_cvtepi32_ps(acc), rSingle), nudgeSingle)));
        } else {
            storePixel(out + 4 * x, _mm256_cvttpd_epi32(_mm256_add_pd(
                                        _mm256_mul_pd(_mm256_cvtepi32_pd(acc), r), nudge)));
        }
    }
}

template <typename SumColumnsNarrow, bool Single>
SumColumnsNarrow narrowRoutine(std::uint32_t pairs) {
    switch (pairs) {
        case 1:
            return sumColumnsNarrow<1, Single>;
        case 2:
            return sumColumnsNarrow<2, Single>;
        default:
            return sumColumnsNarrow<0, Single>;
    }
}

template <typename SumColumns>
SumColumns columnRoutine(bool avx2, std::uint32_t taps) {
    switch (taps) {
        case 1:
            return avx2 ? sumColumnsAvx2<1> : sumColumnsSse2<1>;
        case 2:
            return avx2 ? sumColumnsAvx2<2> : sumColumnsSse2<2>;
        case 3:
            return avx2 ? sumColumnsAvx2<3> : sumColumnsSse2<3>;
        case 4:
            return avx2 ? sumColumnsAvx2<4> : sumColumnsSse2<4>;
        default:
            return avx2 ? sumColumnsAvx2<0> : sumColumnsSse2<0>;
    }
}

#endif

}  // namespace

AreaResampler::AreaResampler(std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                             std::uint32_t destinationWidth, std::uint32_t destinationHeight)
    : m_sw(sourceWidth), m_sh(sourceHeight), m_dw(destinationWidth), m_dh(destinationHeight) {
    const std::uint64_t area = std::uint64_t{m_sw} * m_sh;
    m_usable = PM_AREA_SIMD && m_sw > 0 && m_sh > 0 && m_dw > 0 && m_dh > 0 && m_sw <= kMaxSide &&
               m_sh <= kMaxSide && m_dw <= kMaxSide && m_dh <= kMaxSide;
    if (!m_usable) {
        return;
    }
    m_reciprocal = 1.0 / static_cast<double>(area);
    // Destination column x covers [x·sw, (x+1)·sw) in units where source column i covers
    // [i·dw, (i+1)·dw).
    m_firstColumn.resize(m_dw);
    m_taps = 0;
    for (std::uint64_t x = 0; x < m_dw; ++x) {
        const std::uint64_t lo = x * m_sw;
        const std::uint64_t hi = lo + m_sw;
        m_firstColumn[x] = static_cast<std::uint32_t>(lo / m_dw);
        const auto taps = static_cast<std::uint32_t>((hi - 1) / m_dw - lo / m_dw + 1);
        m_taps = taps > m_taps ? taps : m_taps;
    }
    m_weights.assign(std::size_t{m_dw} * m_taps, 0.0);
    for (std::uint64_t x = 0; x < m_dw; ++x) {
        const std::uint64_t lo = x * m_sw;
        const std::uint64_t hi = lo + m_sw;
        double* w = &m_weights[x * m_taps];
        for (std::uint64_t i = lo / m_dw; i * m_dw < hi; ++i, ++w) {
            const std::uint64_t from = i * m_dw > lo ? i * m_dw : lo;
            const std::uint64_t to = (i + 1) * m_dw < hi ? (i + 1) * m_dw : hi;
            *w = static_cast<double>(to - from);
        }
    }
#if PM_AREA_SIMD
    const bool avx2 = PerfKit::codePath() == CodePath::Avx2;
    m_sumColumns = columnRoutine<SumColumns>(avx2, m_taps);
    const std::uint32_t columnUnit = std::gcd(m_sw, m_dw);
    m_rowUnit = std::gcd(m_sh, m_dh);
    const std::uint64_t reducedArea =
        std::uint64_t{m_sw / columnUnit} * std::uint64_t{m_sh / m_rowUnit};
    m_narrow = avx2 && 255 * (m_sh / m_rowUnit) <= 32767 && 255 * reducedArea < (1u << 31) &&
               m_sh / m_dh + 2 <= 2 * kMaxPairs;
    if (m_narrow) {
        m_pairs = (m_taps + 1) / 2;
        m_pairWeights.assign(std::size_t{m_dw} * m_pairs, 0);
        for (std::size_t x = 0; x < m_dw; ++x) {
            for (std::uint32_t t = 0; t < m_taps; ++t) {
                const auto w = static_cast<std::uint32_t>(m_weights[x * m_taps + t]) / columnUnit;
                m_pairWeights[x * m_pairs + t / 2] |=
                    static_cast<std::int32_t>(w << (16 * (t % 2)));
            }
        }
        m_reciprocal = 1.0 / static_cast<double>(reducedArea);
        m_sumColumnsNarrow = reducedArea <= kSingleArea
                                 ? narrowRoutine<SumColumnsNarrow, true>(m_pairs)
                                 : narrowRoutine<SumColumnsNarrow, false>(m_pairs);
    }
#endif
}

void AreaResampler::run(const ImageBuffer& destination, const ImageBuffer& source,
                        std::uint32_t first, std::uint32_t end) const {
#if PM_AREA_SIMD
    // Zero columns past the end for the zero-weight taps of the last pixels.
    std::vector<std::int32_t> sums((std::size_t{m_sw} + m_taps) * 4, 0);
    std::vector<std::int16_t> narrow(m_narrow ? (std::size_t{m_sw} + 2 * m_pairs) * 4 : 0, 0);
    std::vector<const std::uint8_t*> rows;
    std::vector<std::int32_t> weights;
    for (std::uint32_t y = first; y < end; ++y) {
        // Destination row y covers [y·sh, (y+1)·sh) in units where source row j covers
        // [j·dh, (j+1)·dh).
        const std::uint64_t top = std::uint64_t{y} * m_sh;
        const std::uint64_t bottom = top + m_sh;
        rows.clear();
        weights.clear();
        for (std::uint64_t j = top / m_dh; j * m_dh < bottom; ++j) {
            const std::uint64_t lo = j * m_dh > top ? j * m_dh : top;
            const std::uint64_t hi = (j + 1) * m_dh < bottom ? (j + 1) * m_dh : bottom;
            rows.push_back(source.row(static_cast<std::uint32_t>(j)));
            weights.push_back(static_cast<std::int32_t>(hi - lo));
        }
        if (m_narrow) {
            for (std::int32_t& w : weights) {
                w /= static_cast<std::int32_t>(m_rowUnit);
            }
            sumRows(narrow.data(), rows.data(), weights.data(), rows.size(), m_sw);
            m_sumColumnsNarrow(destination.row(y), narrow.data(), m_firstColumn.data(), m_pairs,
                               m_pairWeights.data(), m_dw, m_reciprocal);
            continue;
        }
        sumRows(sums.data(), rows.data(), weights.data(), rows.size(), m_sw);
        m_sumColumns(destination.row(y), sums.data(), m_firstColumn.data(), m_taps,
                     m_weights.data(), m_dw, m_reciprocal);
    }
#else
    (void)destination;
    (void)source;
    (void)first;
    (void)end;
#endif
}

}  // namespace pm::detail
