#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "render/RenderSurface.h"

namespace pm {

// Surfaces and their coverage buffers kept from one frame to the next, so that a run of frames
// of one size does not allocate (and fault in) megabytes per frame. One scratch serves one
// render at a time; it is locked for the length of a frame.
class RenderScratch {
public:
    std::mutex& lock() { return m_lock; }
    // Surface `index` set up for `target`, reusing its buffers when the size and options match.
    RenderSurface* surface(std::size_t index, const KernelBitmap& target, std::uint32_t options);

private:
    std::mutex m_lock;
    // Held by pointer: callers keep earlier surfaces while asking for later ones.
    std::vector<std::unique_ptr<RenderSurface>> m_surfaces;
};

}  // namespace pm
