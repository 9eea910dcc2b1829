#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "render/KernelBitmap.h"
#include "render/KernelBuffer.h"

namespace pm {

namespace detail {
struct MapperScratch;
}

// Which inner loops the mapper may use. They give the same bytes; the choice exists so that
// tests and benchmarks can compare them.
enum class MapperPath : int { Best, Scalar, Sse2, Avx2 };

// The destination of polygon mapping for one render call: the target bitmap, the coverage that
// the mapped polygons have built up, and the settings the caller chose.
struct RenderSurface {
    // Option bits of create().
    static constexpr std::uint32_t kOptionCoverage = 1u << 0;    // keep a coverage buffer too
    static constexpr std::uint32_t kOptionInterlaced = 1u << 1;  // the destination is one field
    static constexpr std::uint32_t kOptionFlag8000 = 1u << 2;
    static constexpr std::uint32_t kOptionFlag4000 = 1u << 3;
    static constexpr std::uint32_t kOptionAlpha = 1u << 4;  // finishing writes coverage to alpha

    // Kernel flag bits.
    static constexpr std::uint32_t kFlagSecondField = 1u << 0;
    static constexpr std::uint32_t kFlagField = 1u << 1;

    KernelBitmap destination;
    KernelBitmap second;
    std::unique_ptr<KernelBuffer> work;
    std::unique_ptr<KernelBuffer> coverage;
    std::uint32_t options = 0;
    std::uint32_t kernelFlags = 0;
    bool layoutFlag = true;  // false for a Yuy2 destination
    bool composeFlag = false;
    bool ownMode = true;           // finishing is done by finish(), not by a separate compose pass
    std::uint32_t packedSize = 0;  // width in the low 16 bits, height in the high 16 bits
    float eyeDistance = 1500.0f;
    // The frame row that the destination's first row shows. A surface covering a band of the
    // frame keeps the vertices in frame coordinates and sets this instead of shifting them, so
    // that every band computes its rows exactly as the whole frame would.
    int firstRow = 0;
    MapperPath path = MapperPath::Best;
    // Scratch row of the edge rasterizer, kept between calls; always left zeroed.
    std::vector<double> scratch;
    // The shader's scratch, kept between calls.
    std::shared_ptr<detail::MapperScratch> mapperScratch;

    // Describes `target` as the destination and creates fresh buffers for it (destroying the old
    // ones). False when the target is not a valid bitmap or the buffers cannot be created.
    bool create(const KernelBitmap& target, std::uint32_t optionBits);

    // The frame row parity this surface draws: -1 all rows, 0 even rows, 1 odd rows.
    int fieldParity() const;

    // Starts again with no coverage, for a caller that draws separate pictures over each other.
    void clear();

    // Ends drawing: with the alpha option, every destination pixel's alpha becomes its coverage
    // (0..128) x 255 >> 7.
    void finish();
};

}  // namespace pm
