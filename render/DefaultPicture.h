#pragma once

#include "render/ImageBuffer.h"

namespace pm {

// The picture a scene shows when it has none of its own, or when its file cannot be read: a
// 1024 × 768 opaque Bgra32 image drawn in code.
class DefaultPicture {
public:
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;

    // One shared copy, drawn on first use. Holders must not write into its pixels.
    static const ImageBuffer& image();
    // Draws a fresh copy.
    static PixelStatus draw(ImageBuffer* out);
};

}  // namespace pm
