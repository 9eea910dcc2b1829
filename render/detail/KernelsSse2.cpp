// Builds the pixel routines for one code path; see PixelKernels.inc.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/detail/KernelSet.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PM_KERNEL_SIMD 1
#else
#define PM_KERNEL_SIMD 0
#endif

#define PM_KERNEL_NS sse2
#define PM_KERNEL_VECTOR 1
#define PM_KERNEL_AVX2 0
#include "render/detail/PixelKernels.inc"

namespace pm::detail::sse2 {

const KernelSet& kernels() {
    return kKernelSet;
}

}  // namespace pm::detail::sse2
