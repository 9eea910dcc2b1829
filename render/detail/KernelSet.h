#pragma once

#include <cstddef>
#include <cstdint>

#include "render/RoutineTable.h"

namespace pm::detail {

// One separable blur pass over 32-bit pixels with symmetric byte weights w[0..m] summing to 256.
using BlurPass = void (*)(int width, int height, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                          const std::uint8_t* src, std::ptrdiff_t srcPitch,
                          const std::uint8_t* weights, int m, bool keepAlpha);

struct KernelSet {
    RoutineTable routines;
    BlurPass blurRows;
    BlurPass blurColumns;
};

namespace plain {
const KernelSet& kernels();
}
namespace sse2 {
const KernelSet& kernels();
}
namespace avx2 {
const KernelSet& kernels();
}

bool codePathAvailable(CodePath path);
// Falls back to the best available path below the one asked for.
const KernelSet& kernelsFor(CodePath path);

}  // namespace pm::detail
