#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "export/plugins/ffmpeg/I420Converter.h"

namespace pm::exporters {
namespace {

struct Planes {
    int width;
    int height;
    std::vector<std::uint8_t> y, u, v;
    Planes(int w, int h)
        : width(w),
          height(h),
          y(static_cast<std::size_t>(w * h)),
          u(static_cast<std::size_t>((w + 1) / 2 * ((h + 1) / 2))),
          v(u.size()) {}
    int strides[3] = {width, (width + 1) / 2, (width + 1) / 2};
};

Planes convert(const std::vector<std::uint8_t>& bgra, int width, int height, YuvMatrix matrix,
               bool vector) {
    Planes out(width, height);
    std::uint8_t* planes[3] = {out.y.data(), out.u.data(), out.v.data()};
    I420Converter(matrix, vector)
        .convert(bgra.data(), width * 4, width, height, planes, out.strides);
    return out;
}

std::vector<std::uint8_t> noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width * height * 4));
    for (std::uint8_t& b : bgra) {
        b = static_cast<std::uint8_t>(random());
    }
    return bgra;
}

// Smooth colour ramps, where the choice of chroma filter makes no visible difference.
std::vector<std::uint8_t> ramps(int width, int height) {
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width * height * 4));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bgra[static_cast<std::size_t>((y * width + x) * 4)];
            p[0] = static_cast<std::uint8_t>(x * 255 / (width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (height - 1));
            p[2] = static_cast<std::uint8_t>(255 - (x + y) * 255 / (width + height - 2));
            p[3] = 255;
        }
    }
    return bgra;
}

TEST(I420ConverterTest, VectorPathGivesThePlainBytes) {
    if (!I420Converter(YuvMatrix::Bt709).vectorised()) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
    // Widths around the 32-pixel step and odd sides, whose last column and row repeat.
    for (const auto& [w, h] : {std::pair{64, 4}, {96, 6}, {67, 5}, {31, 3}, {33, 1}, {130, 9}}) {
        for (const YuvMatrix m : {YuvMatrix::Bt601, YuvMatrix::Bt709}) {
            const auto bgra = noise(w, h, static_cast<unsigned>(w * h));
            const Planes plain = convert(bgra, w, h, m, false);
            const Planes vector = convert(bgra, w, h, m, true);
            EXPECT_EQ(plain.y, vector.y) << w << "x" << h;
            EXPECT_EQ(plain.u, vector.u) << w << "x" << h;
            EXPECT_EQ(plain.v, vector.v) << w << "x" << h;
        }
    }
}

TEST(I420ConverterTest, KnownColoursLandOnTheirLimitedRangeValues) {
    struct Case {
        std::uint8_t b, g, r;
        YuvMatrix matrix;
        int y, u, v;
    };
    const Case cases[] = {
        {0, 0, 0, YuvMatrix::Bt709, 16, 128, 128},
        {255, 255, 255, YuvMatrix::Bt709, 235, 128, 128},
        {128, 128, 128, YuvMatrix::Bt709, 126, 128, 128},
        {0, 0, 255, YuvMatrix::Bt709, 63, 102, 240},
        {0, 255, 0, YuvMatrix::Bt709, 173, 42, 26},
        {255, 0, 0, YuvMatrix::Bt709, 32, 240, 118},
        {0, 0, 255, YuvMatrix::Bt601, 81, 90, 240},
        {0, 255, 0, YuvMatrix::Bt601, 145, 54, 34},
        {255, 0, 0, YuvMatrix::Bt601, 41, 240, 110},
    };
    for (const Case& c : cases) {
        for (const bool vector : {false, true}) {
            const int w = 64;
            const int h = 2;
            std::vector<std::uint8_t> bgra(static_cast<std::size_t>(w * h * 4));
            for (std::size_t i = 0; i < bgra.size(); i += 4) {
                bgra[i] = c.b;
                bgra[i + 1] = c.g;
                bgra[i + 2] = c.r;
                bgra[i + 3] = static_cast<std::uint8_t>(i);  // alpha plays no part
            }
            const Planes p = convert(bgra, w, h, c.matrix, vector);
            EXPECT_EQ(p.y[5], c.y) << int(c.r) << "," << int(c.g) << "," << int(c.b);
            EXPECT_EQ(p.u[7], c.u) << int(c.r) << "," << int(c.g) << "," << int(c.b);
            EXPECT_EQ(p.v[31], c.v) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        }
    }
}

TEST(I420ConverterTest, ChromaIsTheMeanOfEachTwoByTwoBlock) {
    // Pure blue and black side by side in each block: U half way between their values.
    const int w = 32;
    const int h = 2;
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(w * h * 4), 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; x += 2) {
            bgra[static_cast<std::size_t>((y * w + x) * 4)] = 255;
        }
    }
    for (const bool vector : {false, true}) {
        const Planes p = convert(bgra, w, h, YuvMatrix::Bt709, vector);
        EXPECT_EQ(p.u[3], 184);  // (128 + 240) / 2
        EXPECT_EQ(p.y[0], 32);
        EXPECT_EQ(p.y[1], 16);
    }
}

TEST(I420ConverterTest, AgreesWithTheFfmpegScalerOnSmoothPictures) {
    const int w = 200;
    const int h = 120;
    const auto bgra = ramps(w, h);
    const Planes ours = convert(bgra, w, h, YuvMatrix::Bt709, true);
    Planes theirs(w, h);
    SwsContext* scaler = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P,
                                        SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    ASSERT_NE(scaler, nullptr);
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    const std::uint8_t* source[1] = {bgra.data()};
    const int pitch[1] = {w * 4};
    std::uint8_t* planes[3] = {theirs.y.data(), theirs.u.data(), theirs.v.data()};
    sws_scale(scaler, source, pitch, 0, h, planes, theirs.strides);
    sws_freeContext(scaler);
    const auto within = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                           int rowLength, int rows, int skip) {
        int worst = 0;
        // The scaler's filter reaches past the picture's edge; compare the inside.
        for (int y = skip; y < rows - skip; ++y) {
            for (int x = skip; x < rowLength - skip; ++x) {
                const std::size_t i = static_cast<std::size_t>(y * rowLength + x);
                worst = std::max(worst, std::abs(a[i] - b[i]));
            }
        }
        return worst;
    };
    EXPECT_LE(within(ours.y, theirs.y, w, h, 0), 1);
    EXPECT_LE(within(ours.u, theirs.u, w / 2, h / 2, 1), 1);
    EXPECT_LE(within(ours.v, theirs.v, w / 2, h / 2, 1), 1);
}

}  // namespace
}  // namespace pm::exporters
