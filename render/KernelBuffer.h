#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pm {

enum class KernelBufferKind : int {
    Work = 2,      // the coverage accumulated by every polygon mapped into a surface
    Coverage = 3,  // a copy of that coverage for callers that keep it
};

// One 16-bit cell per destination pixel holding how much of the pixel the polygons mapped so far
// cover, 0 (none) to kFullCoverage (all). Blending each new polygon against what is already
// covered is what keeps the seams between neighbouring mesh cells closed.
class KernelBuffer {
public:
    static constexpr int kFullCoverage = 32768;

    // Null when the size is not positive or memory runs out.
    static std::unique_ptr<KernelBuffer> create(int width, int height, KernelBufferKind kind,
                                                std::uint32_t kernelFlags);

    int width() const { return m_width; }
    int height() const { return m_height; }
    KernelBufferKind kind() const { return m_kind; }
    std::uint32_t kernelFlags() const { return m_kernelFlags; }

    // Forgets all coverage, so the next polygon is drawn as if on a fresh surface.
    void clear();

    std::uint16_t* row(int y) { return m_cells.data() + static_cast<std::size_t>(y) * m_width; }
    const std::uint16_t* row(int y) const {
        return m_cells.data() + static_cast<std::size_t>(y) * m_width;
    }
    // The columns [lo, hi) of a row that may hold coverage; outside them every cell is zero.
    struct Extent {
        int lo = 0;
        int hi = 0;
    };
    Extent& extent(int y) { return m_extents[static_cast<std::size_t>(y)]; }

    // The coverage of a pixel in the 0..128 scale that the alpha finishing uses.
    int coverageByte(int x, int y) const { return (row(y)[x] + 128) >> 8; }

private:
    KernelBuffer(int width, int height, KernelBufferKind kind, std::uint32_t kernelFlags);

    int m_width = 0;
    int m_height = 0;
    KernelBufferKind m_kind = KernelBufferKind::Work;
    std::uint32_t m_kernelFlags = 0;
    std::vector<std::uint16_t> m_cells;
    std::vector<Extent> m_extents;
};

}  // namespace pm
