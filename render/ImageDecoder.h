#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "render/ImageBuffer.h"

namespace pm {

class ProgressReporter;

// Turns picture files (or the bytes of one held in memory) into pixel buffers through FreeImage.
// Safe to use from several threads at once on different pictures.
class ImageDecoder {
public:
    enum class Status {
        Ok,
        CannotOpen,     // missing, unreadable, not a regular file, or empty
        UnknownFormat,  // neither the name nor the content says what it is
        Undecodable,    // the decoder refused it, or it ended before its pixels did
        TooLarge,       // a side beyond the allowed maximum, found before decoding pixels
        OutOfMemory,
    };

    struct Options {
        // Bgra32 or Bgr24.
        PixelFormat format = PixelFormat::Bgra32;
        // Fills the margins when the picture is centred into a destination of another aspect;
        // bytes R, G, B, A from the lowest.
        std::uint32_t background = 0xFF000000u;
        // Larger sides are refused from the header, before the pixels take memory.
        std::uint32_t maxSide = 25000;
        // Told, while a picture is decoded in place, how many of its top rows are final, so
        // that work on them can start before the rest arrives. Only decoders that write the
        // destination's own rows call it; on failure the picture it was shown is discarded.
        std::function<void(const ImageBuffer& picture, std::uint32_t rows)> rowsReady;
        // A picture only ever shown small may be decoded reduced, where that is cheaper than
        // decoding it whole (JPEG's scaled transform), to no less than this upright width. 0
        // asks for the full size.
        std::uint32_t minimumWidth = 0;
    };

    struct Result {
        Status status = Status::CannotOpen;
        // The upright picture's size as decoded (also set for TooLarge when the header told it).
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        // The picture's own upright size: larger than the above when it was decoded reduced.
        std::uint32_t fullWidth = 0;
        std::uint32_t fullHeight = 0;
        // Some pixel's alpha is not 255 (after all-transparent pictures were made opaque).
        bool hasAlpha = false;
        bool ok() const { return status == Status::Ok; }
    };

    // When `destination` already holds pixels whose aspect ratio differs from the picture's, the
    // picture is centred in it at the largest size that keeps its aspect, on the background;
    // otherwise `destination` is replaced by a buffer of the picture's size. On failure the
    // destination is left as it was.
    static Result decodeFile(const std::string& path, ImageBuffer* destination,
                             ProgressReporter* progress, const Options& options);
    static Result decodeFile(const std::string& path, ImageBuffer* destination,
                             ProgressReporter* progress = nullptr) {
        return decodeFile(path, destination, progress, Options{});
    }
    // `name` supplies the extension that chooses the decoder, as a file name would.
    static Result decodeMemory(const std::uint8_t* data, std::size_t size, std::string_view name,
                               ImageBuffer* destination, ProgressReporter* progress,
                               const Options& options);
    // The image library's format code for a picture file held in memory (as the decoder would
    // choose it); -1 when the format is unknown.
    static int formatCode(const std::uint8_t* data, std::size_t size, std::string_view name);
};

}  // namespace pm
