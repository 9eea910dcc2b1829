// Builds the pixel routines for one code path; see PixelKernels.inc.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/detail/KernelSet.h"

#define PM_KERNEL_NS plain
#define PM_KERNEL_VECTOR 0
#define PM_KERNEL_SIMD 0
#define PM_KERNEL_AVX2 0
#include "render/detail/PixelKernels.inc"

namespace pm::detail::plain {

const KernelSet& kernels() {
    return kKernelSet;
}

}  // namespace pm::detail::plain
