#pragma once

// Small picture files made by the tests with FreeImage, and ways to damage them.
#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace pm::test {

// A fresh folder under the system's temporary folder, removed with its files at the end.
class TempFolder {
public:
    TempFolder() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("pictomove-images-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Colour of pixel (x, y), top row first: B, G, R, A.
using PixelFn = std::function<std::uint32_t(int x, int y)>;

inline std::uint32_t bgra(int b, int g, int r, int a = 255) {
    return static_cast<std::uint32_t>(b | (g << 8) | (r << 16) | (a << 24));
}

// A FreeImage bitmap of 24 or 32 bits drawn by `fn` (FreeImage keeps rows bottom-up).
inline FIBITMAP* makeBitmap(int width, int height, int bpp, const PixelFn& fn) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, bpp);
    const int step = bpp / 8;
    for (int y = 0; y < height; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = fn(x, y);
            for (int i = 0; i < step; ++i) {
                row[x * step + i] = static_cast<BYTE>(c >> (8 * i));
            }
        }
    }
    return dib;
}

inline std::vector<std::uint8_t> encode(FIBITMAP* dib, FREE_IMAGE_FORMAT format, int flags = 0) {
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(format, dib, memory, flags);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    std::vector<std::uint8_t> bytes(data, data + size);
    FreeImage_CloseMemory(memory);
    return bytes;
}

inline std::vector<std::uint8_t> encodePicture(int width, int height, int bpp,
                                               FREE_IMAGE_FORMAT format, const PixelFn& fn,
                                               int flags = 0) {
    FIBITMAP* dib = makeBitmap(width, height, bpp, fn);
    std::vector<std::uint8_t> bytes = encode(dib, format, flags);
    FreeImage_Unload(dib);
    return bytes;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A smooth picture that compresses well.
inline std::uint32_t gradient(int x, int y) {
    return bgra((x * 3) & 255, (y * 5) & 255, (x + y) & 255);
}

// A JPEG whose EXIF orientation tag says the stored picture is to be turned (6: a quarter turn
// clockwise).
inline std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg,
                                                     int orientation) {
    const std::vector<std::uint8_t> exif = {
        'E',
        'x',
        'i',
        'f',
        0,
        0,  // identifier
        'I',
        'I',
        42,
        0,
        8,
        0,
        0,
        0,  // little-endian TIFF header, IFD at 8
        1,
        0,  // one entry
        0x12,
        0x01,
        3,
        0,
        1,
        0,
        0,
        0,  // Orientation, SHORT, count 1
        static_cast<std::uint8_t>(orientation),
        0,
        0,
        0,  // value
        0,
        0,
        0,
        0,  // no next IFD
    };
    const std::size_t length = exif.size() + 2;
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    out.push_back(0xFF);
    out.push_back(0xE1);
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A BMP header claiming a size, followed by a few bytes of pixels.
inline std::vector<std::uint8_t> bmpClaiming(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> b(54 + 64, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    b[26] = 1;
    b[28] = 24;
    return b;
}

}  // namespace pm::test
