#include "render/KernelBuffer.h"

#include <algorithm>
#include <new>

#include "render/detail/MapperSpans.h"

namespace pm {

KernelBuffer::KernelBuffer(int width, int height, KernelBufferKind kind, std::uint32_t kernelFlags)
    : m_width(width), m_height(height), m_kind(kind), m_kernelFlags(kernelFlags) {}

std::unique_ptr<KernelBuffer> KernelBuffer::create(int width, int height, KernelBufferKind kind,
                                                   std::uint32_t kernelFlags) {
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
        return nullptr;
    }
    if (kind != KernelBufferKind::Work && kind != KernelBufferKind::Coverage) {
        return nullptr;
    }
    std::unique_ptr<KernelBuffer> buffer(new (std::nothrow)
                                             KernelBuffer(width, height, kind, kernelFlags));
    if (!buffer) {
        return nullptr;
    }
    buffer->m_cells.reset(
        new (std::nothrow)
            std::uint16_t[static_cast<std::size_t>(width) * static_cast<std::size_t>(height)]);
    if (!buffer->m_cells) {
        return nullptr;
    }
    try {
        buffer->m_extents.assign(static_cast<std::size_t>(height), Extent{});
        buffer->m_marks.assign(static_cast<std::size_t>(height), Marks{});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

void KernelBuffer::clear() {
    std::fill(m_extents.begin(), m_extents.end(), Extent{});
    std::fill(m_marks.begin(), m_marks.end(), Marks{});
}

std::uint16_t* KernelBuffer::rowFor(int y, int lo, int hi) {
    for (Extent& m : m_marks[static_cast<std::size_t>(y)]) {
        if (m.lo < m.hi && m.lo < hi && lo < m.hi) {
            store(y, m);
        }
    }
    return cells(y);
}

void KernelBuffer::markFull(int y, int lo, int hi) {
    if (lo >= hi) {
        return;
    }
    Marks& marks = m_marks[static_cast<std::size_t>(y)];
    Extent* free = nullptr;
    for (Extent& m : marks) {
        if (m.lo < m.hi && lo <= m.hi && m.lo <= hi) {
            m = {std::min(m.lo, lo), std::max(m.hi, hi)};  // touching: one range
            return;
        }
        if (m.lo >= m.hi && free == nullptr) {
            free = &m;
        }
    }
    if (free == nullptr) {
        free = &marks[0];
        store(y, *free);
    }
    *free = {lo, hi};
}

void KernelBuffer::store(int y, Extent& mark) {
    detail::fillCells(cells(y) + mark.lo, mark.hi - mark.lo,
                      static_cast<std::uint16_t>(kFullCoverage));
    mark = {};
}

namespace {

// Zeroes cells [from, to) except those inside the ranges of `written`.
void zeroOutside(std::uint16_t* cells, int from, int to,
                 const std::vector<KernelBuffer::Extent>& written) {
    for (const KernelBuffer::Extent& w : written) {
        if (w.hi <= from) {
            continue;
        }
        if (w.lo >= to) {
            break;
        }
        if (w.lo > from) {
            std::fill(cells + from, cells + w.lo, std::uint16_t{0});
        }
        from = std::max(from, w.hi);
    }
    if (from < to) {
        std::fill(cells + from, cells + to, std::uint16_t{0});
    }
}

const std::vector<KernelBuffer::Extent> kNothingWritten;

}  // namespace

void KernelBuffer::reach(int y, int lo, int hi) {
    reach(y, lo, hi, kNothingWritten);
}

void KernelBuffer::reach(int y, int lo, int hi, const std::vector<Extent>& written) {
    lo = std::max(lo, 0);
    hi = std::min(hi, m_width);
    if (lo >= hi) {
        return;
    }
    Extent& e = m_extents[static_cast<std::size_t>(y)];
    // Marked cells lie inside the extent, which this never touches.
    std::uint16_t* cells = this->cells(y);
    if (e.lo >= e.hi) {
        zeroOutside(cells, lo, hi, written);
        e = {lo, hi};
        return;
    }
    if (lo < e.lo) {
        zeroOutside(cells, lo, e.lo, written);
        e.lo = lo;
    }
    if (hi > e.hi) {
        zeroOutside(cells, e.hi, hi, written);
        e.hi = hi;
    }
}

}  // namespace pm
