#include "render/LevelsTable.h"

#include <array>
#include <cmath>
#include <cstring>

#include "render/PerfKit.h"
#include "render/detail/ImageOps.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PM_LEVELS_AVX2 1
#else
#define PM_LEVELS_AVX2 0
#endif

namespace pm {

namespace {

#if PM_LEVELS_AVX2
// Eight pixels at a time, the three curves looked up by gathers; returns the pixels done.
__attribute__((target("avx2"))) std::uint32_t applyWordsAvx2(
    const std::array<std::array<std::uint32_t, 256>, 3>& shifted, const std::uint8_t* in,
    std::uint8_t* out, std::uint32_t width) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i alpha = _mm256_set1_epi32(static_cast<std::int32_t>(0xFF000000u));
    const auto* b = reinterpret_cast<const int*>(shifted[0].data());
    const auto* g = reinterpret_cast<const int*>(shifted[1].data());
    const auto* r = reinterpret_cast<const int*>(shifted[2].data());
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * x));
        const __m256i q = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_i32gather_epi32(b, _mm256_and_si256(p, low), 4),
                _mm256_i32gather_epi32(g, _mm256_and_si256(_mm256_srli_epi32(p, 8), low), 4)),
            _mm256_or_si256(
                _mm256_i32gather_epi32(r, _mm256_and_si256(_mm256_srli_epi32(p, 16), low), 4),
                _mm256_and_si256(p, alpha)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), q);
    }
    return x;
}
#endif

}  // namespace

LevelsTable::LevelsTable() {
    for (int i = 0; i < 256; ++i) {
        m_curve[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
}

LevelsTable::Curve LevelsTable::levelsCurve(double gamma, int inLow, int inHigh, int outLow,
                                            int outHigh) {
    Curve curve{};
    const double k = inLow == inHigh ? 1.0 : 1.0 / (inHigh - inLow);
    for (int i = 0; i < 256; ++i) {
        double t = (i - inLow) * k;
        if (gamma != 0.0 && gamma != 1.0) {
            t = t >= 0 ? std::pow(t, 1.0 / gamma) : -std::pow(-t, 1.0 / gamma);
        }
        double value =
            outHigh >= outLow ? outLow + t * (outHigh - outLow) : outLow - t * (outLow - outHigh);
        // NaN (a negative gamma's pow) lands on 0 like any value below the range.
        value = value >= 0.0 ? (value > 255.0 ? 255.0 : value) : 0.0;
        curve[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
    return curve;
}

void LevelsTable::compose(const Curve& next) {
    for (std::uint8_t& entry : m_curve) {
        entry = next[entry];
    }
}

void LevelsTable::levels(double gamma, int inLow, int inHigh, int outLow, int outHigh) {
    compose(levelsCurve(gamma, inLow, inHigh, outLow, outHigh));
}

void LevelsTable::autoLevels(const Histogram& histogram, double threshold) {
    std::uint32_t fullest = 0;
    for (const std::uint32_t count : histogram) {
        fullest = count > fullest ? count : fullest;
    }
    const auto least = static_cast<std::uint32_t>(fullest * threshold);
    int low = 0;
    while (low < 255 && histogram[static_cast<std::size_t>(low)] < least) {
        ++low;
    }
    int high = 255;
    while (high > 0 && histogram[static_cast<std::size_t>(high)] < least) {
        --high;
    }
    levels(1.0, low, high, 0, 255);
}

PixelStatus LevelsTable::histogramOf(const ImageBuffer& image, Histogram* histogram) {
    if (const PixelStatus s = detail::validateImage(image); s != PixelStatus::Ok) {
        return s;
    }
    if (image.format != PixelFormat::Bgra32 && image.format != PixelFormat::Bgr24) {
        return PixelStatus::UnsupportedFormat;
    }
    histogram->fill(0);
    const int step = bytesPerPixel(image.format);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = row + x * static_cast<std::uint32_t>(step);
            ++(*histogram)[static_cast<std::size_t>((p[0] + p[1] + p[2]) / 3)];
        }
    }
    return PixelStatus::Ok;
}

PixelStatus LevelsTable::autoLevels(const ImageBuffer& image, double threshold) {
    Histogram histogram{};
    if (const PixelStatus s = histogramOf(image, &histogram); s != PixelStatus::Ok) {
        return s;
    }
    autoLevels(histogram, threshold);
    return PixelStatus::Ok;
}

void LevelsTable::brightness(double percent) {
    const int a = static_cast<int>(percent * 0.01 * 127);
    if (a >= 1) {
        levels(1.0, 0, 255, a, 255);
    } else if (a < 0) {
        levels(1.0, 0, 255, 0, 255 + a);
    }
}

void LevelsTable::contrast(double percent) {
    const int a = static_cast<int>(percent * 0.01 * 127);
    if (a > 0) {
        levels(1.0, a, 255 - a, 0, 255);
    } else if (a < 0) {
        levels(1.0, 0, 255, -a, 255 + a);
    }
}

PixelStatus LevelsTable::apply(const ImageBuffer& destination, const ImageBuffer& source) const {
    for (const ImageBuffer* image : {&destination, &source}) {
        if (const PixelStatus s = detail::validateImage(*image); s != PixelStatus::Ok) {
            return s;
        }
    }
    if (source.format != destination.format ||
        (source.format != PixelFormat::Bgra32 && source.format != PixelFormat::Bgr24)) {
        return PixelStatus::UnsupportedFormat;
    }
    if (source.width != destination.width || source.height != destination.height) {
        return PixelStatus::InvalidSize;
    }
    const auto step = static_cast<std::uint32_t>(bytesPerPixel(source.format));
    if (step == 4) {
        // A word at a time, each channel's curve already in its place in the word.
        std::array<std::array<std::uint32_t, 256>, 3> shifted{};
        for (std::size_t c = 0; c < 3; ++c) {
            for (std::size_t i = 0; i < 256; ++i) {
                shifted[c][i] = static_cast<std::uint32_t>(m_curve[i]) << (8 * c);
            }
        }
        const bool avx2 = PerfKit::codePath() == CodePath::Avx2;
        for (std::uint32_t y = 0; y < source.height; ++y) {
            const std::uint8_t* in = source.row(y);
            std::uint8_t* out = destination.row(y);
            std::uint32_t x = 0;
#if PM_LEVELS_AVX2
            if (avx2) {
                x = applyWordsAvx2(shifted, in, out, source.width);
            }
#else
            (void)avx2;
#endif
            for (; x < source.width; ++x) {
                std::uint32_t p = 0;
                std::memcpy(&p, in + 4 * x, 4);
                const std::uint32_t q = shifted[0][p & 0xFF] | shifted[1][(p >> 8) & 0xFF] |
                                        shifted[2][(p >> 16) & 0xFF] | (p & 0xFF000000u);
                std::memcpy(out + 4 * x, &q, 4);
            }
        }
        return PixelStatus::Ok;
    }
    for (std::uint32_t y = 0; y < source.height; ++y) {
        const std::uint8_t* in = source.row(y);
        std::uint8_t* out = destination.row(y);
        for (std::uint32_t x = 0; x < source.width; ++x) {
            const std::uint8_t* p = in + x * step;
            std::uint8_t* q = out + x * step;
            q[0] = m_curve[p[0]];
            q[1] = m_curve[p[1]];
            q[2] = m_curve[p[2]];
            if (step == 4) {
                q[3] = p[3];
            }
        }
    }
    return PixelStatus::Ok;
}

}  // namespace pm
