#include <gtest/gtest.h>

#include <numeric>

#include "render/BlurFilter.h"
#include "render/PerfKit.h"
#include "render/tests/TestImages.h"

namespace pm {
namespace {

int total(const std::vector<std::uint8_t>& w) {
    return std::accumulate(w.begin() + 1, w.end(), 0) * 2 + w[0];
}

TEST(BlurFilter, KernelConstruction) {
    EXPECT_EQ(BlurFilter::kernelFor(0.5), std::vector<std::uint8_t>{255});
    EXPECT_EQ(BlurFilter::kernelFor(0.0), std::vector<std::uint8_t>{255});
    // Radius 2: sigma 1, l 4, m 2, five taps.
    EXPECT_EQ(BlurFilter::kernelFor(2.0), (std::vector<std::uint8_t>{106, 62, 13}));
    // Just above 0.5 sigma is held at 0.42.
    EXPECT_EQ(BlurFilter::kernelFor(0.51), (std::vector<std::uint8_t>{230, 13}));
    for (const double r : {0.6, 1.0, 2.0, 3.3, 17.0, 36.0, 37.5, 150.0, 204.0}) {
        const auto w = BlurFilter::kernelFor(r);
        EXPECT_EQ(total(w), 256) << r;
        const double sigma = std::max(r / 2, 0.42);
        EXPECT_EQ(static_cast<int>(w.size()) - 1, static_cast<int>(std::ceil(4 * sigma)) / 2) << r;
    }
    // So wide that the peak weight would truncate to nothing: the widest usable kernel instead.
    const auto huge = BlurFilter::kernelFor(1000.0);
    EXPECT_EQ(total(huge), 256);
    EXPECT_EQ(huge, BlurFilter::kernelFor(204.0));
}

ImageBuffer makeImage(int width, int height, std::mt19937& rng) {
    ImageBuffer b;
    EXPECT_EQ(PerfKit::allocate(&b, PixelFormat::Bgra32, width, height), PixelStatus::Ok);
    for (std::uint32_t y = 0; y < b.height; ++y) {
        for (int i = 0; i < width * 4; ++i) {
            b.row(y)[i] = static_cast<std::uint8_t>(rng());
        }
    }
    return b;
}

// The definition, pass by pass, written out for a small image.
std::vector<std::uint8_t> referenceBlur(const ImageBuffer& src, double rx, double ry,
                                        bool keepAlpha) {
    const int w = static_cast<int>(src.width);
    const int h = static_cast<int>(src.height);
    const auto pass = [&](const std::vector<std::uint8_t>& in, const std::vector<std::uint8_t>& k,
                          bool horizontal) {
        std::vector<std::uint8_t> out(in.size());
        const int m = static_cast<int>(k.size()) - 1;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 4; ++c) {
                    const auto at = [&](int xx, int yy) { return in[(yy * w + xx) * 4 + c]; };
                    const int centre = at(x, y);
                    int sum = k[0] * centre;
                    for (int i = 1; i <= m; ++i) {
                        const int lx = horizontal ? x - i : x, ly = horizontal ? y : y - i;
                        const int rx2 = horizontal ? x + i : x, ry2 = horizontal ? y : y + i;
                        const int l = (lx < 0 || ly < 0) ? centre : at(lx, ly);
                        const int r = (rx2 >= w || ry2 >= h) ? centre : at(rx2, ry2);
                        sum += k[i] * (l + r);
                    }
                    out[(y * w + x) * 4 + c] =
                        static_cast<std::uint8_t>(keepAlpha && c == 3 ? centre : sum / 256);
                }
            }
        }
        return out;
    };
    std::vector<std::uint8_t> data;
    for (int y = 0; y < h; ++y) {
        data.insert(data.end(), src.row(static_cast<std::uint32_t>(y)),
                    src.row(static_cast<std::uint32_t>(y)) + w * 4);
    }
    return pass(pass(data, BlurFilter::kernelFor(rx), true), BlurFilter::kernelFor(ry), false);
}

std::vector<std::uint8_t> bytesOf(const ImageBuffer& b) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t y = 0; y < b.height; ++y) {
        out.insert(out.end(), b.row(y), b.row(y) + b.width * 4);
    }
    return out;
}

// The small picture runs on one processor; the large one (of a width no strip divides) has its
// rows and its columns shared between two.
TEST(BlurFilter, MatchesTheDefinitionOnEveryPath) {
    std::mt19937 rng(21);
    for (const auto& [w, h] : {std::pair{29, 23}, std::pair{301, 150}}) {
        const ImageBuffer src = makeImage(w, h, rng);
        const double radii[][2] = {{0.4, 0.4}, {2.0, 1.0}, {9.5, 3.0}, {36.0, 18.0}};
        for (const auto& r : radii) {
            for (const bool keepAlpha : {true, false}) {
                const auto expected = referenceBlur(src, r[0], r[1], keepAlpha);
                for (CodePath path : test::availablePaths()) {
                    BlurFilter filter(path);
                    filter.setRadii(r[0], r[1]);
                    ImageBuffer dst = makeImage(w, h, rng);
                    ASSERT_EQ(keepAlpha ? filter.applyKeepAlpha(dst, src) : filter.apply(dst, src),
                              PixelStatus::Ok);
                    EXPECT_EQ(bytesOf(dst), expected)
                        << r[0] << "/" << r[1] << " keepAlpha " << keepAlpha << " on "
                        << test::pathName(path) << " at " << w << " x " << h;
                }
            }
        }
    }
}

TEST(BlurFilter, SmallRadiusDimsEachPassByOne256th) {
    std::mt19937 rng(22);
    const ImageBuffer src = makeImage(8, 5, rng);
    ImageBuffer dst = makeImage(8, 5, rng);
    auto filter = PerfKit::createBlurFilter();
    filter->setRadius(0.5);
    ASSERT_EQ(filter->apply(dst, src), PixelStatus::Ok);
    const auto in = bytesOf(src);
    const auto out = bytesOf(dst);
    for (std::size_t i = 0; i < in.size(); ++i) {
        // One pass leaves floor(255 × c / 256); the row and column passes apply it twice.
        EXPECT_EQ(out[i], 255 * (255 * in[i] / 256) / 256);
    }
}

TEST(BlurFilter, UniformImageStaysUniformAndInPlaceWorks) {
    std::mt19937 rng(23);
    ImageBuffer image;
    ASSERT_EQ(PerfKit::allocate(&image, PixelFormat::Bgra32, 64, 40), PixelStatus::Ok);
    ASSERT_EQ(PerfKit::fill(image, 0x80C01050u, 1), PixelStatus::Ok);
    const auto before = bytesOf(image);
    auto filter = PerfKit::createBlurFilter();
    filter->setRadius(37.5);
    ASSERT_EQ(filter->apply(image, image), PixelStatus::Ok);
    EXPECT_EQ(bytesOf(image), before);

    const ImageBuffer src = makeImage(31, 17, rng);
    ImageBuffer copy = makeImage(31, 17, rng);
    ImageBuffer separate = makeImage(31, 17, rng);
    ASSERT_EQ(PerfKit::copy(copy, src), PixelStatus::Ok);
    filter->setRadii(3, 5);
    ASSERT_EQ(filter->applyKeepAlpha(separate, src), PixelStatus::Ok);
    ASSERT_EQ(filter->applyKeepAlpha(copy, copy), PixelStatus::Ok);
    EXPECT_EQ(bytesOf(copy), bytesOf(separate));
}

TEST(BlurFilter, RefusesWhatItCannotBlur) {
    std::mt19937 rng(24);
    const ImageBuffer a = makeImage(8, 8, rng);
    const ImageBuffer b = makeImage(8, 7, rng);
    ImageBuffer yuy2;
    ASSERT_EQ(PerfKit::allocate(&yuy2, PixelFormat::Yuy2, 8, 8), PixelStatus::Ok);
    BlurFilter filter(CodePath::Plain);
    EXPECT_EQ(filter.apply(a, a), PixelStatus::MissingFilterData);
    filter.setRadius(2);
    EXPECT_EQ(filter.apply(yuy2, yuy2), PixelStatus::UnsupportedFormat);
    EXPECT_EQ(filter.apply(a, b), PixelStatus::InvalidSize);
    EXPECT_EQ(filter.apply(ImageBuffer{}, a), PixelStatus::MissingBuffer);
}

}  // namespace
}  // namespace pm
