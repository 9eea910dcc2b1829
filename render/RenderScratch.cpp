#include "render/RenderScratch.h"

namespace pm {

RenderSurface* RenderScratch::surface(std::size_t index, const KernelBitmap& target,
                                      std::uint32_t options) {
    while (m_surfaces.size() <= index) {
        m_surfaces.push_back(std::make_unique<RenderSurface>());
    }
    RenderSurface& s = *m_surfaces[index];
    const bool sameShape = s.work && s.options == options && s.work->width() == target.width &&
                           s.work->height() == target.height &&
                           s.destination.fieldSelector == target.fieldSelector &&
                           s.destination.layout == target.layout;
    if (sameShape && target.valid()) {
        // Same buffers, new pixels: only the coverage has to start afresh.
        s.destination = target;
        s.clear();
        s.firstRow = 0;
        return &s;
    }
    return s.create(target, options) ? &s : nullptr;
}

}  // namespace pm
