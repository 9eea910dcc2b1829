#include "render/detail/AreaResampler.h"

#include <cstring>

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

#if PM_AREA_SIMD

// Column sums of one destination row: sums[4i + c] = Σ weight[k] × rows[k][4i + c]. Each sum
// stays below 255 × source height, well inside 32 bits. Rows are taken in pairs, so that one
// multiply-add weighs two rows.
void sumRows(std::int32_t* sums, const std::uint8_t* const* rows, const std::int32_t* weights,
             std::size_t count, std::uint32_t width) {
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t k = 0; k < count; k += 2) {
        const std::uint8_t* a = rows[k];
        const bool pair = k + 1 < count;
        const std::uint8_t* b = pair ? rows[k + 1] : a;
        const std::int32_t wa = weights[k];
        const std::int32_t wb = pair ? weights[k + 1] : 0;
        const __m128i w = _mm_set1_epi32(static_cast<std::int32_t>(
            static_cast<std::uint32_t>(wb) << 16 | static_cast<std::uint32_t>(wa)));
        const bool first = k == 0;
        std::uint32_t i = 0;
        for (; i + 4 <= width; i += 4) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 4 * i));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * i));
            const __m128i lo = _mm_unpacklo_epi8(va, vb);
            const __m128i hi = _mm_unpackhi_epi8(va, vb);
            __m128i s[4] = {
                _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w),
                _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w),
                _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w),
                _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w),
            };
            auto* out = reinterpret_cast<__m128i*>(sums + 4 * i);
            for (int q = 0; q < 4; ++q) {
                if (!first) {
                    s[q] = _mm_add_epi32(s[q], _mm_loadu_si128(out + q));
                }
                _mm_storeu_si128(out + q, s[q]);
            }
        }
        for (; i < width; ++i) {
            for (std::uint32_t c = 0; c < 4; ++c) {
                const std::int32_t v = wa * a[4 * i + c] + wb * b[4 * i + c];
                sums[4 * i + c] = first ? v : sums[4 * i + c] + v;
            }
        }
    }
}

inline void storePixel(std::uint8_t* out, __m128i values) {
    values = _mm_packs_epi32(values, values);
    values = _mm_packus_epi16(values, values);
    const auto pixel = static_cast<std::uint32_t>(_mm_cvtsi128_si32(values));
    std::memcpy(out, &pixel, 4);
}

void sumColumnsSse2(std::uint8_t* out, const std::int32_t* sums, const std::uint32_t* firstColumn,
                    const std::uint32_t* tapStart, const double* weights, std::uint32_t width,
                    double reciprocal) {
    const __m128d r = _mm_set1_pd(reciprocal);
    const __m128d nudge = _mm_set1_pd(kNudge);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int32_t* c = sums + std::size_t{4} * firstColumn[x];
        __m128d low = _mm_setzero_pd();
        __m128d high = _mm_setzero_pd();
        for (std::uint32_t t = tapStart[x]; t < tapStart[x + 1]; ++t, c += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            const __m128d w = _mm_set1_pd(weights[t]);
            low = _mm_add_pd(low, _mm_mul_pd(_mm_cvtepi32_pd(v), w));
            high = _mm_add_pd(high, _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE)), w));
        }
        const __m128i a = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(low, r), nudge));
        const __m128i b = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(high, r), nudge));
        storePixel(out + 4 * x, _mm_unpacklo_epi64(a, b));
    }
}

__attribute__((target("avx2"))) void sumColumnsAvx2(std::uint8_t* out, const std::int32_t* sums,
                                                    const std::uint32_t* firstColumn,
                                                    const std::uint32_t* tapStart,
                                                    const double* weights, std::uint32_t width,
                                                    double reciprocal) {
    const __m256d r = _mm256_set1_pd(reciprocal);
    const __m256d nudge = _mm256_set1_pd(kNudge);
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::int32_t* c = sums + std::size_t{4} * firstColumn[x];
        __m256d acc = _mm256_setzero_pd();
        for (std::uint32_t t = tapStart[x]; t < tapStart[x + 1]; ++t, c += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            acc = _mm256_add_pd(acc,
                                _mm256_mul_pd(_mm256_cvtepi32_pd(v), _mm256_set1_pd(weights[t])));
        }
        storePixel(out + 4 * x, _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(acc, r), nudge)));
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
    m_avx2 = PerfKit::codePath() == CodePath::Avx2;
    m_reciprocal = 1.0 / static_cast<double>(area);
    // Destination column x covers [x·sw, (x+1)·sw) in units where source column i covers
    // [i·dw, (i+1)·dw).
    m_firstColumn.resize(m_dw);
    m_tapStart.resize(std::size_t{m_dw} + 1);
    m_weights.reserve(std::size_t{m_sw} + m_dw);
    for (std::uint64_t x = 0; x < m_dw; ++x) {
        m_tapStart[x] = static_cast<std::uint32_t>(m_weights.size());
        const std::uint64_t lo = x * m_sw;
        const std::uint64_t hi = lo + m_sw;
        m_firstColumn[x] = static_cast<std::uint32_t>(lo / m_dw);
        for (std::uint64_t i = lo / m_dw; i * m_dw < hi; ++i) {
            const std::uint64_t from = i * m_dw > lo ? i * m_dw : lo;
            const std::uint64_t to = (i + 1) * m_dw < hi ? (i + 1) * m_dw : hi;
            m_weights.push_back(static_cast<double>(to - from));
        }
    }
    m_tapStart[m_dw] = static_cast<std::uint32_t>(m_weights.size());
}

void AreaResampler::run(const ImageBuffer& destination, const ImageBuffer& source,
                        std::uint32_t first, std::uint32_t end) const {
#if PM_AREA_SIMD
    std::vector<std::int32_t> sums(std::size_t{m_sw} * 4);
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
        sumRows(sums.data(), rows.data(), weights.data(), rows.size(), m_sw);
        if (m_avx2) {
            sumColumnsAvx2(destination.row(y), sums.data(), m_firstColumn.data(),
                           m_tapStart.data(), m_weights.data(), m_dw, m_reciprocal);
        } else {
            sumColumnsSse2(destination.row(y), sums.data(), m_firstColumn.data(),
                           m_tapStart.data(), m_weights.data(), m_dw, m_reciprocal);
        }
    }
#else
    (void)destination;
    (void)source;
    (void)first;
    (void)end;
#endif
}

}  // namespace pm::detail
