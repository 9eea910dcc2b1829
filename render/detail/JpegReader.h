#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "render/ImageBuffer.h"

namespace pm::detail {

// Decodes a JPEG straight into Bgra32 rows with the JPEG library, without the general decoder's
// 24-bit copy, turning it upright by its EXIF orientation. It takes the same decoder settings as
// the general decoder's accurate mode, so the pixels are the same to the bit; whatever it does
// not handle (CMYK, damaged or cut files) it leaves to the general decoder.
class JpegReader {
public:
    // Fills `buffer` with up to `capacity` bytes of the file; 0 at its end.
    using ReadBytes = std::function<std::size_t(std::uint8_t* buffer, std::size_t capacity)>;
    // The top `rows` rows of `picture` hold their final pixels.
    using RowsReady = std::function<void(const ImageBuffer& picture, std::uint32_t rows)>;

    enum class Outcome {
        Ok,
        Unsupported,  // a colour space this reader does not take
        Failed,       // the library refused the data, or it ended early
        TooLarge,     // a side beyond the maximum, found before any pixel memory was taken
        OutOfMemory,
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        // Upright size as decoded, when the header was read.
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        // The picture's own upright size (larger than the above when decoded reduced).
        std::uint32_t fullWidth = 0;
        std::uint32_t fullHeight = 0;
    };

    // On anything but Ok, `destination` is left as it was. A `minimumWidth` (other than 0) below
    // the upright width lets the library's scaled transform decode the picture at the smallest of
    // 1/8, 1/4, 1/2 or all of its size that is at least that wide: far less work and memory for a
    // picture that is only ever shown small. The full size keeps the general decoder's bytes.
    static Result decode(const ReadBytes& read, std::uint32_t maxSide, ImageBuffer* destination,
                         const RowsReady& rowsReady, std::uint32_t minimumWidth = 0);
    // The eighths decode() takes for a picture `width` pixels wide (upright) to be at least
    // `minimumWidth` wide: 8 when nothing smaller will do.
    static int eighthsFor(std::uint32_t width, std::uint32_t minimumWidth);
    // The orientation (1 to 8) in an APP1 segment's payload; 0 when it has none or is malformed.
    static int exifOrientation(const std::uint8_t* payload, std::size_t size);
};

}  // namespace pm::detail
