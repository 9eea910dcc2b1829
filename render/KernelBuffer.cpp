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
    try {
        buffer->m_cells.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                               0);
        buffer->m_extents.assign(static_cast<std::size_t>(height), Extent{});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

void KernelBuffer::clear() {
    std::fill(m_cells.begin(), m_cells.end(), std::uint16_t{0});
    std::fill(m_extents.begin(), m_extents.end(), Extent{});
}

}  // namespace pm
