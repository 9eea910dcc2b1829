#pragma once

#include <cstdint>

#include "render/ImageBuffer.h"
#include "render/detail/KernelSet.h"

namespace pm::detail {

// The buffer operations with the routine set passed in, so every code path can be exercised.
PixelStatus validateImage(const ImageBuffer& image);
PixelStatus fillImage(const KernelSet& kernels, const ImageBuffer& buffer, std::uint32_t colour,
                      int colourKind);
PixelStatus copyImage(const KernelSet& kernels, const ImageBuffer& destination,
                      const ImageBuffer& source);
PixelStatus mixImages(const KernelSet& kernels, const ImageBuffer& destination,
                      const ImageBuffer& a, const ImageBuffer& b, int weight, bool alphaAware);
PixelStatus compositeImages(const KernelSet& kernels, const ImageBuffer& destination,
                            const ImageBuffer& source, int weight);
PixelStatus allocateImage(ImageBuffer* buffer, PixelFormat format, int width, int height);
// For a large buffer about to be written in full: fresh memory taken page by page on first
// write costs a trap per 4 KB page, which for a large picture costs more than writing it; asking
// for all of its pages at once costs a good part less. Only a hint.
void prefaultImage(const ImageBuffer& image);

}  // namespace pm::detail
