#pragma once

#include <array>
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

    // Forgets all coverage, so the next polygon is drawn as if on a fresh surface. Costs one
    // store per row: only the rows' extents are reset.
    void clear();

    // The cells of a row. Only those inside the row's extent hold coverage; the others hold
    // whatever was there and count as zero. Cells marked full are stored first.
    std::uint16_t* row(int y) { return rowFor(y, 0, m_width); }
    // The same for a caller that reads and writes only cells [lo, hi): only the marked cells
    // among them are stored.
    std::uint16_t* rowFor(int y, int lo, int hi);
    // The columns [lo, hi) of a row whose cells hold coverage (none when lo >= hi).
    struct Extent {
        int lo = 0;
        int hi = 0;
    };
    const Extent& extent(int y) const { return m_extents[static_cast<std::size_t>(y)]; }
    // Widens a row's extent to take in [lo, hi), zeroing the cells it newly takes in.
    void reach(int y, int lo, int hi);
    // The same, except for the cells inside `written` (sorted, disjoint column ranges), which the
    // caller overwrites before anything reads them: zeroing those would be wasted.
    void reach(int y, int lo, int hi, const std::vector<Extent>& written);

    // Marks cells [lo, hi) of a row, inside its extent, as fully covered without storing them:
    // a picture covering whole rows of fresh cells is spared the stores, and so is a mesh cell
    // whose neighbours in the row never read them. Whatever reads them later gets them through
    // row(), rowFor() or cell().
    void markFull(int y, int lo, int hi);

    // A pixel's coverage, 0 to kFullCoverage.
    int cell(int x, int y) const {
        for (const Extent& m : m_marks[static_cast<std::size_t>(y)]) {
            if (x >= m.lo && x < m.hi) {
                return kFullCoverage;
            }
        }
        const Extent& e = extent(y);
        return x >= e.lo && x < e.hi ? m_cells[static_cast<std::size_t>(y) * m_width + x] : 0;
    }
    // The coverage of a pixel in the 0..128 scale that the alpha finishing uses.
    int coverageByte(int x, int y) const { return (cell(x, y) + 128) >> 8; }

private:
    KernelBuffer(int width, int height, KernelBufferKind kind, std::uint32_t kernelFlags);

    int m_width = 0;
    int m_height = 0;
    KernelBufferKind m_kind = KernelBufferKind::Work;
    std::uint32_t m_kernelFlags = 0;
    // Not initialised: a fresh buffer's rows have empty extents, so nothing reads them.
    std::unique_ptr<std::uint16_t[]> m_cells;
    std::vector<Extent> m_extents;
    // Per row: ranges of cells marked full and not stored yet (empty ones have lo >= hi).
    using Marks = std::array<Extent, 4>;
    std::vector<Marks> m_marks;

    std::uint16_t* cells(int y) { return m_cells.get() + static_cast<std::size_t>(y) * m_width; }
    void store(int y, Extent& mark);
};

}  // namespace pm
