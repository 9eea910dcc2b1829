#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

// After <cstdio>, which it needs.
// clang-format off
#include <jpeglib.h>
// clang-format on

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

TEST(ImageDecoderTest, TiffWithTagsTheLibraryDoesNotKnowDecodesQuietly) {
    test::TempFolder folder;
    std::vector<std::uint8_t> tiff = test::encodePicture(
        120, 100, 24, FIF_TIFF, [](int x, int y) { return redOverBlue(x, y, 100); });
    // The last entry of the first directory gets a private tag number, as cameras and scanners
    // write them; the entries stay in ascending order.
    ASSERT_GT(tiff.size(), 8u);
    ASSERT_EQ(tiff[0], 'I');
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(tiff[at] | tiff[at + 1] << 8 | tiff[at + 2] << 16 |
                                          static_cast<std::uint32_t>(tiff[at + 3]) << 24);
    };
    const std::size_t directory = u32(4);
    ASSERT_LT(directory + 2, tiff.size());
    const std::size_t entries = tiff[directory] | tiff[directory + 1] << 8;
    const std::size_t last = directory + 2 + 12 * (entries - 1);
    ASSERT_LT(last + 12, tiff.size());
    tiff[last] = 0xE8;  // 65000
    tiff[last + 1] = 0xFD;
    const std::string path = folder.file("scan.tif");
    test::writeFile(path, tiff);

    testing::internal::CaptureStderr();
    ImageBuffer image;
    const ImageDecoder::Result r = ImageDecoder::decodeFile(path, &image);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.width, 120u);
    EXPECT_EQ(printed, "");
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
        // Found by fuzzing: an RLE TGA with a colour map of 0-bit entries and an image id longer
        // than the file made the picture library hand back a bitmap that was not one, and the
        // program died on it.
        {"depth0.tga",
         {0xd8, 0x01, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x1c, 0x35,
          0x00, 0x28, 0x00, 0x18, 0x85, 0xff, 0x00, 0x00, 0x85, 0x41, 0x00, 0x05, 0xff},
         Status::Undecodable},
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

// The general decoder's view of a JPEG: FreeImage's accurate decode, upright, at 32 bits, rows
// top first.
ImageBuffer freeImageDecode(const std::vector<std::uint8_t>& jpeg) {
    FIMEMORY* memory =
        FreeImage_OpenMemory(const_cast<BYTE*>(jpeg.data()), static_cast<DWORD>(jpeg.size()));
    FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_JPEG, memory, JPEG_ACCURATE | JPEG_EXIFROTATE);
    FreeImage_CloseMemory(memory);
    ImageBuffer image;
    if (dib == nullptr) {
        return image;
    }
    FIBITMAP* wide = FreeImage_ConvertTo32Bits(dib);
    FreeImage_Unload(dib);
    const int w = static_cast<int>(FreeImage_GetWidth(wide));
    const int h = static_cast<int>(FreeImage_GetHeight(wide));
    if (PerfKit::allocate(&image, PixelFormat::Bgra32, w, h) == PixelStatus::Ok) {
        for (int y = 0; y < h; ++y) {
            std::memcpy(image.row(static_cast<std::uint32_t>(y)),
                        FreeImage_GetScanLine(wide, h - 1 - y), static_cast<std::size_t>(w) * 4);
        }
    }
    FreeImage_Unload(wide);
    return image;
}

// FreeImage writes no CMYK JPEG; the JPEG library does.
std::vector<std::uint8_t> cmykJpeg(int width, int height) {
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t g = test::gradient(x, y);
            std::memcpy(&row[static_cast<std::size_t>(x) * 4], &g, 4);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    jpeg_destroy_compress(&c);
    return bytes;
}

std::vector<std::uint8_t> greyJpeg(int width, int height) {
    FIBITMAP* dib = test::makeBitmap(width, height, 24, test::gradient);
    FIBITMAP* grey = FreeImage_ConvertToGreyscale(dib);
    std::vector<std::uint8_t> bytes = test::encode(grey, FIF_JPEG, JPEG_QUALITYGOOD);
    FreeImage_Unload(grey);
    FreeImage_Unload(dib);
    return bytes;
}

TEST(ImageDecoderTest, JpegDecodedDirectlyMatchesTheGeneralDecoderToTheBit) {
    auto noisy = [](int x, int y) {
        return test::gradient(x, y) ^
               static_cast<std::uint32_t>((x * 7919 + y * 104729) & 0x1F1F1F);
    };
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        // Rows are handed out as decoded only by the direct reader.
        bool direct;
    };
    std::vector<Case> cases = {
        {"odd size", test::encodePicture(101, 77, 24, FIF_JPEG, noisy, JPEG_QUALITYGOOD), true},
        {"4:4:4", test::encodePicture(64, 33, 24, FIF_JPEG, noisy, JPEG_SUBSAMPLING_444), true},
        {"4:2:2", test::encodePicture(99, 50, 24, FIF_JPEG, noisy, JPEG_SUBSAMPLING_422), true},
        {"progressive",
         test::encodePicture(150, 101, 24, FIF_JPEG, noisy, JPEG_PROGRESSIVE | JPEG_QUALITYBAD),
         true},
        {"grey", greyJpeg(83, 61), true},
        {"cmyk", cmykJpeg(45, 31), false},
    };
    const std::vector<std::uint8_t> stored =
        test::encodePicture(37, 21, 24, FIF_JPEG, noisy, JPEG_QUALITYSUPERB);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        cases.push_back({"orientation " + std::to_string(orientation),
                         test::withExifOrientation(stored, orientation), true});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImageBuffer expected = freeImageDecode(c.bytes);
        ASSERT_NE(expected.pixels, nullptr);
        std::uint32_t rowsSeen = 0;
        ImageDecoder::Options options;
        options.rowsReady = [&](const ImageBuffer& picture, std::uint32_t rows) {
            EXPECT_GE(rows, rowsSeen);
            EXPECT_EQ(picture.width, expected.width);
            rowsSeen = rows;
        };
        ImageBuffer image;
        const ImageDecoder::Result r = ImageDecoder::decodeMemory(
            c.bytes.data(), c.bytes.size(), "picture.jpg", &image, nullptr, options);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(rowsSeen, c.direct ? expected.height : 0u);
        ASSERT_EQ(image.width, expected.width);
        ASSERT_EQ(image.height, expected.height);
        EXPECT_EQ(r.width, expected.width);
        EXPECT_FALSE(r.hasAlpha);
        int differing = 0;
        for (std::uint32_t y = 0; y < image.height; ++y) {
            differing +=
                std::memcmp(image.row(y), expected.row(y), std::size_t{image.width} * 4) != 0;
        }
        EXPECT_EQ(differing, 0);
    }
}

// A picture only ever shown small is decoded at the smallest halving that is still wide enough;
// other formats, and pictures that need their full width, come whole.
TEST(ImageDecoderTest, JpegIsDecodedReducedToNoLessThanTheWidthAskedFor) {
    // Left half dark, right half light, turned upright by EXIF: its upright width is 300.
    const auto halves = [](int, int y) { return y < 200 ? bgra(40, 40, 40) : bgra(220, 220, 220); };
    const std::vector<std::uint8_t> jpeg = test::withExifOrientation(
        test::encodePicture(400, 300, 24, FIF_JPEG, halves, JPEG_QUALITYSUPERB), 6);
    const std::vector<std::uint8_t> png = test::encodePicture(400, 300, 24, FIF_PNG, halves);
    struct Case {
        const std::vector<std::uint8_t>* bytes;
        const char* name;
        std::uint32_t minimumWidth;
        std::uint32_t width;
        std::uint32_t height;
    };
    for (const Case c : {Case{&jpeg, "p.jpg", 0, 300, 400}, Case{&jpeg, "p.jpg", 151, 300, 400},
                         Case{&jpeg, "p.jpg", 150, 150, 200}, Case{&jpeg, "p.jpg", 76, 150, 200},
                         Case{&jpeg, "p.jpg", 75, 75, 100}, Case{&jpeg, "p.jpg", 1, 38, 50},
                         Case{&png, "p.png", 1, 400, 300}}) {
        SCOPED_TRACE(std::string(c.name) + " at least " + std::to_string(c.minimumWidth));
        ImageDecoder::Options options;
        options.minimumWidth = c.minimumWidth;
        std::uint32_t rowsSeen = 0;
        options.rowsReady = [&](const ImageBuffer& picture, std::uint32_t rows) {
            EXPECT_EQ(picture.width, c.width);
            rowsSeen = rows;
        };
        ImageBuffer image;
        const ImageDecoder::Result r = ImageDecoder::decodeMemory(c.bytes->data(), c.bytes->size(),
                                                                  c.name, &image, nullptr, options);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, c.height);
        ASSERT_EQ(image.width, c.width);
        ASSERT_EQ(image.height, c.height);
        EXPECT_EQ(r.fullWidth, c.bytes == &jpeg ? 300u : 400u);
        EXPECT_EQ(r.fullHeight, c.bytes == &jpeg ? 400u : 300u);
        if (c.bytes == &jpeg) {
            EXPECT_EQ(rowsSeen, c.height);
            // The quarter turn puts the dark half on the right, whatever the size.
            EXPECT_LT(pixelAt(image, static_cast<int>(c.width) - 2, 1) & 255, 60u);
            EXPECT_GT(pixelAt(image, 1, static_cast<int>(c.height) - 2) & 255, 200u);
        }
    }
}

// Damaged data: cut short it fails as before; with bytes changed it decodes (the JPEG library
// recovers) to exactly what the general decoder makes of it, or fails as that one does.
TEST(ImageDecoderTest, DamagedJpegGivesWhatTheGeneralDecoderGives) {
    const std::vector<std::uint8_t> jpeg =
        test::encodePicture(160, 120, 24, FIF_JPEG, test::gradient, JPEG_QUALITYGOOD);
    std::mt19937 rng(3);
    std::vector<std::vector<std::uint8_t>> damaged;
    for (int tenth = 1; tenth <= 9; ++tenth) {
        damaged.emplace_back(jpeg.begin(),
                             jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() * tenth / 10));
    }
    for (int i = 0; i < 40; ++i) {
        std::vector<std::uint8_t> bytes = jpeg;
        for (int k = 0; k < 1 + i % 4; ++k) {
            bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        }
        damaged.push_back(std::move(bytes));
    }
    int compared = 0;
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::uint8_t>& bytes = damaged[i];
        ImageBuffer image;
        const ImageDecoder::Result r =
            ImageDecoder::decodeMemory(bytes.data(), bytes.size(), "d.jpg", &image, nullptr, {});
        if (i < 9) {
            EXPECT_EQ(r.status, Status::Undecodable);
        }
        if (!r.ok()) {
            EXPECT_EQ(image.pixels, nullptr);
            continue;
        }
        const ImageBuffer expected = freeImageDecode(bytes);
        ASSERT_NE(expected.pixels, nullptr);
        ++compared;
        ASSERT_EQ(image.width, expected.width);
        ASSERT_EQ(image.height, expected.height);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            ASSERT_EQ(std::memcmp(image.row(y), expected.row(y), std::size_t{image.width} * 4), 0);
        }
    }
    // Most changed bytes land in the coded data, which the library decodes through.
    EXPECT_GT(compared, 10);
}

}  // namespace
}  // namespace pm
