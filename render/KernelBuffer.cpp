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
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

void KernelBuffer::clear() {
    std::fill(m_extents.begin(), m_extents.end(), Extent{});
}

void KernelBuffer::reach(int y, int lo, int hi) {
    lo = std::max(lo, 0);
    hi = std::min(hi, m_width);
    if (lo >= hi) {
        return;
    }
    Extent& e = m_extents[static_cast<std::size_t>(y)];
    std::uint16_t* cells = row(y);
    if (e.lo >= e.hi) {
        std::fill(cells + lo, cells + hi, std::uint16_t{0});
        e = {lo, hi};
        return;
    }
    if (lo < e.lo) {
        std::fill(cells + lo, cells + e.lo, std::uint16_t{0});
        e.lo = lo;
    }
    if (hi > e.hi) {
        std::fill(cells + e.hi, cells + hi, std::uint16_t{0});
        e.hi = hi;
    }
}

}  // namespace pm
