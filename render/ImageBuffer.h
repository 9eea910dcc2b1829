#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pm {

enum class PixelFormat : std::uint32_t { Yuy2 = 0, Bgra32 = 1, Yuva32 = 2, Bgr24 = 3 };

// Result of every pixel operation; callers treat anything but Ok as failure.
enum class PixelStatus : int {
    Ok = 0,
    MissingFilterData = 2,
    InvalidHandleOrColour = 3,
    UnsupportedFormat = 4,
    InvalidSize = 5,
    MissingBuffer = 6,
    OutOfMemory = 7,
};

// Describes rows of pixels, top row first. A bottom-up picture is described by pointing `pixels`
// at its last row and negating the pitch. Copies of a descriptor share the pixels.
struct ImageBuffer {
    PixelFormat format = PixelFormat::Bgra32;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::int32_t pitch = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint8_t* pixels = nullptr;
    // Holds the memory when it was allocated by the pixel library; empty for foreign rows.
    std::shared_ptr<std::uint8_t[]> storage;

    std::uint8_t* row(std::uint32_t y) const {
        return pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    }
    // Describes memory owned elsewhere (a decoder's rows, an exporter's frame).
    static ImageBuffer wrap(PixelFormat format, std::uint32_t width, std::uint32_t height,
                            std::int32_t pitch, std::uint8_t* pixels);
};

bool isValidFormat(PixelFormat format);
// 2, 4, 4, 3 by format; 0 for a value outside the enumeration.
int bytesPerPixel(PixelFormat format);
// Bytes of one row that pixels occupy; a Yuy2 row always ends with a whole pixel pair.
std::size_t rowBytes(PixelFormat format, std::uint32_t width);
// The pitch allocation uses: the row's bytes rounded up to a multiple of 4.
std::size_t alignedPitch(PixelFormat format, std::uint32_t width);

}  // namespace pm
