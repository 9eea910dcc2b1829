#include <gtest/gtest.h>
#include <unistd.h>

#include "core/ProgressReporter.h"
#include "render/ImageDecoder.h"
#include "render/PerfKit.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

using test::bgra;
using Status = ImageDecoder::Status;

std::uint32_t pixelAt(const ImageBuffer& image, int x, int y) {
    const std::uint8_t* p = image.row(static_cast<std::uint32_t>(y)) + 4 * x;
    return bgra(p[0], p[1], p[2], p[3]);
}

// Top half red, bottom half blue: shows whether rows arrive top first.
std::uint32_t redOverBlue(int, int y, int height) {
    return y < height / 2 ? bgra(0, 0, 255) : bgra(255, 0, 0);
}

TEST(ImageDecoderTest, TwentyFourAndThirtyTwoBitPicturesArriveTopRowFirst) {
    test::TempFolder folder;
    struct Case {
        const char* name;
        FREE_IMAGE_FORMAT format;
        int bpp;
    };
    for (const Case c :
         {Case{"a.png", FIF_PNG, 24}, Case{"b.png", FIF_PNG, 32}, Case{"c.bmp", FIF_BMP, 24},
          Case{"d.tif", FIF_TIFF, 32}, Case{"e.tga", FIF_TARGA, 24}}) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.file(c.name);
        test::writeFile(path, test::encodePicture(120, 100, c.bpp, c.format, [](int x, int y) {
                            return redOverBlue(x, y, 100);
                        }));
        ImageBuffer image;
        const ImageDecoder::Result r = ImageDecoder::decodeFile(path, &image);
        ASSERT_EQ(r.status, Status::Ok);
        EXPECT_EQ(r.width, 120u);
        EXPECT_EQ(r.height, 100u);
        EXPECT_EQ(image.format, PixelFormat::Bgra32);
        EXPECT_GT(image.pitch, 0);
        EXPECT_EQ(pixelAt(image, 5, 0), bgra(0, 0, 255));
        EXPECT_EQ(pixelAt(image, 5, 99), bgra(255, 0, 0));
        EXPECT_FALSE(r.hasAlpha);
    }
}

TEST(ImageDecoderTest, PaletteAndGreyPicturesBecomeThirtyTwoBit) {
    test::TempFolder folder;
    FIBITMAP* dib = test::makeBitmap(100, 100, 24, test::gradient);
    FIBITMAP* grey = FreeImage_ConvertToGreyscale(dib);
    const std::string path = folder.file("grey.png");
    test::writeFile(path, test::encode(grey, FIF_PNG));
    FreeImage_Unload(grey);
    FreeImage_Unload(dib);
    ImageBuffer image;
    ASSERT_TRUE(ImageDecoder::decodeFile(path, &image).ok());
    EXPECT_EQ(image.format, PixelFormat::Bgra32);
    const std::uint8_t* p = image.row(10) + 4 * 10;
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
    EXPECT_EQ(p[3], 255);
}

TEST(ImageDecoderTest, AllTransparentAlphaBecomesOpaqueAndPartialAlphaIsReported) {
    test::TempFolder folder;
    const std::string clear = folder.file("clear.png");
    test::writeFile(clear, test::encodePicture(100, 100, 32, FIF_PNG,
                                               [](int x, int y) { return bgra(x, y, 9, 0); }));
    const std::string partly = folder.file("partly.png");
    test::writeFile(partly, test::encodePicture(100, 100, 32, FIF_PNG, [](int x, int y) {
                        return bgra(x, y, 9, x == 50 && y == 50 ? 254 : 255);
                    }));
    ImageBuffer image;
    ImageDecoder::Result r = ImageDecoder::decodeFile(clear, &image);
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.hasAlpha);
    EXPECT_EQ(pixelAt(image, 0, 0) >> 24, 255u);
    EXPECT_EQ(pixelAt(image, 99, 99) >> 24, 255u);
    EXPECT_EQ(pixelAt(image, 30, 40), bgra(30, 40, 9, 255));

    r = ImageDecoder::decodeFile(partly, &image);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.hasAlpha);
    EXPECT_EQ(pixelAt(image, 50, 50) >> 24, 254u);
}

TEST(ImageDecoderTest, BadInputFailsCleanly) {
    test::TempFolder folder;
    const std::vector<std::uint8_t> jpeg =
        test::encodePicture(300, 200, 24, FIF_JPEG, test::gradient, JPEG_QUALITYGOOD);
    const std::vector<std::uint8_t> png =
        test::encodePicture(300, 200, 24, FIF_PNG, test::gradient);
    const std::string text = "This is not a picture at all, only words.\n";
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Status expected;
    };
    const std::vector<Case> cases = {
        {"empty.jpg", {}, Status::CannotOpen},
        {"cut.jpg", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2),
         Status::Undecodable},
        {"cut.png", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2),
         Status::Undecodable},
        {"header-only.png", std::vector<std::uint8_t>(png.begin(), png.begin() + 40),
         Status::Undecodable},
        {"words.jpg", std::vector<std::uint8_t>(text.begin(), text.end()), Status::Undecodable},
        {"words.xyz", std::vector<std::uint8_t>(text.begin(), text.end()), Status::UnknownFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.file(c.name);
        test::writeFile(path, c.bytes);
        ImageBuffer untouched;
        EXPECT_EQ(ImageDecoder::decodeFile(path, &untouched).status, c.expected);
        EXPECT_EQ(untouched.pixels, nullptr);
    }
    ImageBuffer image;
    EXPECT_EQ(ImageDecoder::decodeFile(folder.file("missing.png"), &image).status,
              Status::CannotOpen);
    std::filesystem::create_directory(folder.file("folder.jpg"));
    EXPECT_EQ(ImageDecoder::decodeFile(folder.file("folder.jpg"), &image).status,
              Status::CannotOpen);
    if (geteuid() != 0) {
        const std::string locked = folder.file("locked.png");
        test::writeFile(locked, png);
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        EXPECT_EQ(ImageDecoder::decodeFile(locked, &image).status, Status::CannotOpen);
    }
}

TEST(ImageDecoderTest, HugeSizeInHeaderIsRefusedBeforeDecoding) {
    test::TempFolder folder;
    for (const auto& [w, h] : {std::pair{30000u, 30000u}, std::pair{25001u, 100u}}) {
        const std::string path = folder.file("huge.bmp");
        test::writeFile(path, test::bmpClaiming(w, h));
        ImageBuffer image;
        const ImageDecoder::Result r = ImageDecoder::decodeFile(path, &image);
        EXPECT_EQ(r.status, Status::TooLarge);
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(image.pixels, nullptr);
    }
}

TEST(ImageDecoderTest, PictureWithMisleadingExtensionIsDecodedByContent) {
    test::TempFolder folder;
    const std::string path = folder.file("really-a-png.jpg");
    test::writeFile(path, test::encodePicture(100, 100, 24, FIF_PNG, test::gradient));
    ImageBuffer image;
    ASSERT_TRUE(ImageDecoder::decodeFile(path, &image).ok());
    EXPECT_EQ(pixelAt(image, 7, 3), test::gradient(7, 3) | 0xFF000000u);
}

TEST(ImageDecoderTest, ExifOrientationTurnsThePictureUpright) {
    // Stored 200 × 100 with the left half red; a quarter turn clockwise puts red on top.
    const std::vector<std::uint8_t> jpeg = test::withExifOrientation(
        test::encodePicture(
            200, 100, 24, FIF_JPEG,
            [](int x, int) { return x < 100 ? bgra(0, 0, 255) : bgra(255, 0, 0); },
            JPEG_QUALITYSUPERB),
        6);
    ImageBuffer image;
    const ImageDecoder::Result r =
        ImageDecoder::decodeMemory(jpeg.data(), jpeg.size(), "turned.jpg", &image, nullptr, {});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.width, 100u);
    EXPECT_EQ(r.height, 200u);
    const std::uint32_t top = pixelAt(image, 50, 20);
    const std::uint32_t bottom = pixelAt(image, 50, 180);
    EXPECT_GT((top >> 16) & 255, 200u);
    EXPECT_LT(top & 255, 60u);
    EXPECT_GT(bottom & 255, 200u);
    EXPECT_LT((bottom >> 16) & 255, 60u);
}

TEST(ImageDecoderTest, PictureOfAnotherAspectIsCentredOnTheBackground) {
    const std::vector<std::uint8_t> png =
        test::encodePicture(200, 100, 24, FIF_PNG, [](int, int) { return bgra(10, 200, 30); });
    ImageBuffer destination;
    ASSERT_EQ(PerfKit::allocate(&destination, PixelFormat::Bgra32, 100, 100), PixelStatus::Ok);
    ASSERT_TRUE(
        ImageDecoder::decodeMemory(png.data(), png.size(), "wide.png", &destination, nullptr, {})
            .ok());
    EXPECT_EQ(destination.width, 100u);
    EXPECT_EQ(destination.height, 100u);
    // 50 rows of picture, 25 of black above and below.
    EXPECT_EQ(pixelAt(destination, 50, 24), bgra(0, 0, 0));
    EXPECT_EQ(pixelAt(destination, 50, 25), bgra(10, 200, 30));
    EXPECT_EQ(pixelAt(destination, 50, 74), bgra(10, 200, 30));
    EXPECT_EQ(pixelAt(destination, 50, 75), bgra(0, 0, 0));

    // The same aspect: the destination is replaced by one of the picture's size.
    ASSERT_EQ(PerfKit::allocate(&destination, PixelFormat::Bgra32, 20, 10), PixelStatus::Ok);
    ASSERT_TRUE(
        ImageDecoder::decodeMemory(png.data(), png.size(), "wide.png", &destination, nullptr, {})
            .ok());
    EXPECT_EQ(destination.width, 200u);
}

TEST(ImageDecoderTest, Bgr24DestinationKeepsThreeBytesAndProgressReachesTheEnd) {
    test::TempFolder folder;
    const std::string path = folder.file("p.jpg");
    test::writeFile(path, test::encodePicture(400, 300, 24, FIF_JPEG, test::gradient));
    ProgressReporter progress;
    progress.begin("load");
    ImageDecoder::Options options;
    options.format = PixelFormat::Bgr24;
    ImageBuffer image;
    ASSERT_TRUE(ImageDecoder::decodeFile(path, &image, &progress, options).ok());
    EXPECT_EQ(image.format, PixelFormat::Bgr24);
    EXPECT_EQ(image.pitch, 1200);
    EXPECT_NEAR(progress.position(), 1.0, 0.02);
}

}  // namespace
}  // namespace pm
