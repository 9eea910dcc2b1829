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

// Raw memory for a vector pass, aligned for any vector. It is allocated and released by code
// built for every processor: a template instantiated inside a vector build (std::vector and the
// like) is emitted once for the whole program, and the linker could keep the copy that uses
// instructions this processor lacks.
class Scratch {
public:
    // Throws std::bad_alloc.
    explicit Scratch(std::size_t bytes);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    void* data() const;

private:
    void* m_data;
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
