// Builds the pixel routines for one code path; see PixelKernels.inc.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/detail/KernelSet.h"

#define PM_KERNEL_NS sse2
#define PM_KERNEL_VECTOR 1
#include "render/detail/PixelKernels.inc"

namespace pm::detail::sse2 {

const KernelSet& kernels() {
    return kKernelSet;
}

}  // namespace pm::detail::sse2
