#pragma once

#include <cstddef>

namespace pm {

// Mixes `count` frames from sourceChannels to destinationChannels (1 to 16 each) at one sample
// width (8, 16 or 32 bits): mono is doubled, stereo averaged, 5.1 folded down to stereo, any
// other pair copies the common channels and leaves the rest silent. Returns false for
// unsupported channel counts or widths, writing nothing.
bool convertChannels(std::size_t count, const void* source, int sourceChannels, void* destination,
                     int destinationChannels, int bits);

// Converts `count` frames of `channels` channels between 8, 16 and 32 bits per sample by shifting
// (no dither, no rounding). Returns false for unsupported widths.
bool convertWidth(std::size_t count, const void* source, int sourceBits, void* destination,
                  int destinationBits, int channels);

}  // namespace pm
