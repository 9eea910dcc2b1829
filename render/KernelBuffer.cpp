#include "render/KernelBuffer.h"

#include <algorithm>
#include <new>

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
        buffer->m_full.assign(static_cast<std::size_t>(height), Extent{});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

void KernelBuffer::clear() {
    std::fill(m_extents.begin(), m_extents.end(), Extent{});
    std::fill(m_full.begin(), m_full.end(), Extent{});
}

void KernelBuffer::markFull(int y, int lo, int hi) {
    Extent& f = m_full[static_cast<std::size_t>(y)];
    if (f.lo < f.hi && (hi < f.lo || lo > f.hi)) {
        storeFull(y);  // one marked range per row
    }
    if (f.lo < f.hi) {
        f = {std::min(f.lo, lo), std::max(f.hi, hi)};
    } else {
        f = {lo, hi};
    }
}

void KernelBuffer::storeFull(int y) {
    Extent& f = m_full[static_cast<std::size_t>(y)];
    std::uint16_t* cells = m_cells.get() + static_cast<std::size_t>(y) * m_width;
    std::fill(cells + f.lo, cells + f.hi, static_cast<std::uint16_t>(kFullCoverage));
    f = {};
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
    std::uint16_t* cells = row(y);
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
