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

// Only the routines below may use AVX2; they run only after the processor reported it.
#if defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#elif defined(__x86_64__) || defined(__i386__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#define PM_KERNEL_NS avx2
#define PM_KERNEL_VECTOR 1
#define PM_KERNEL_AVX2 1
#include "render/detail/PixelKernels.inc"
#if defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#pragma clang attribute pop
#elif defined(__x86_64__) || defined(__i386__)
#pragma GCC pop_options
#endif

namespace pm::detail::avx2 {

const KernelSet& kernels() {
    return kKernelSet;
}

}  // namespace pm::detail::avx2
