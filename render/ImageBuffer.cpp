#include "render/ImageBuffer.h"

namespace pm {

ImageBuffer ImageBuffer::wrap(PixelFormat format, std::uint32_t width, std::uint32_t height,
                              std::int32_t pitch, std::uint8_t* pixels) {
    ImageBuffer buffer;
    buffer.format = format;
    buffer.width = width;
    buffer.height = height;
    buffer.pitch = pitch;
    buffer.bitsPerPixel = static_cast<std::uint32_t>(bytesPerPixel(format) * 8);
    buffer.pixels = pixels;
    return buffer;
}

bool isValidFormat(PixelFormat format) {
    return static_cast<std::uint32_t>(format) <= 3;
}

int bytesPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::Yuy2:
            return 2;
        case PixelFormat::Bgra32:
        case PixelFormat::Yuva32:
            return 4;
        case PixelFormat::Bgr24:
            return 3;
    }
    return 0;
}

std::size_t rowBytes(PixelFormat format, std::uint32_t width) {
    if (format == PixelFormat::Yuy2) {
        return (static_cast<std::size_t>(width) + 1) / 2 * 4;
    }
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel(format));
}

std::size_t alignedPitch(PixelFormat format, std::uint32_t width) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel(format)) + 3) &
           ~std::size_t{3};
}

}  // namespace pm
