// Decodes arbitrary bytes as a picture through our decoder: by content, and under the names of
// the formats whose readers also look at the extension.
#include <cstdint>

#include "render/ImageDecoder.h"
#include "render/PerfKit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the name and a reduced decoding, so both paths are reached.
    const char* names[] = {"picture",     "picture.jpg", "picture.png", "picture.tif",
                           "picture.bmp", "picture.tga", "picture.gif", "picture.psd"};
    const char* name = names[data[0] % 8];
    pm::ImageDecoder::Options options;
    options.maxSide = 4096;
    options.minimumWidth = (data[0] & 0x80) ? 64 : 0;
    pm::ImageBuffer image;
    pm::ImageDecoder::decodeMemory(data + 1, size - 1, name, &image, nullptr, options);
    pm::PerfKit::free(&image);
    pm::ImageDecoder::formatCode(data + 1, size - 1, name);
    return 0;
}
