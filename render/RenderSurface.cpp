#include "render/RenderSurface.h"

#include "render/PolygonMapper.h"

namespace pm {

bool RenderSurface::create(const KernelBitmap& target, std::uint32_t optionBits) {
    work.reset();
    coverage.reset();
    if (!target.valid() || target.width > 65535 || target.height > 65535) {
        return false;
    }
    destination = target;
    second = KernelBitmap{};
    options = optionBits;
    kernelFlags = 0;
    if (options & kOptionFlag8000) {
        kernelFlags |= 0x8000;
    }
    if (options & kOptionFlag4000) {
        kernelFlags |= 0x4000;
    }
    if ((options & kOptionInterlaced) || target.fieldSelector != 0) {
        kernelFlags |= kFlagField;
        if (target.fieldSelector == 3) {
            kernelFlags |= kFlagSecondField;
        }
    }
    layoutFlag = target.layout != KernelLayout::Yuy2;
    composeFlag = false;
    ownMode = true;
    packedSize = static_cast<std::uint32_t>(target.width) |
                 (static_cast<std::uint32_t>(target.height) << 16);
    eyeDistance = 1500.0f;
    work = KernelBuffer::create(target.width, target.height, KernelBufferKind::Work, kernelFlags);
    if (!work) {
        return false;
    }
    if (options & kOptionCoverage) {
        coverage = KernelBuffer::create(target.width, target.height, KernelBufferKind::Coverage,
                                        kernelFlags);
        if (!coverage) {
            work.reset();
            return false;
        }
    }
    return true;
}

int RenderSurface::fieldParity() const {
    if (destination.fieldSelector == 2) {
        return 0;
    }
    if (destination.fieldSelector == 3) {
        return 1;
    }
    if (kernelFlags & kFlagField) {
        return (kernelFlags & kFlagSecondField) ? 1 : 0;
    }
    return -1;
}

void RenderSurface::clear() {
    if (work) {
        work->clear();
    }
    if (coverage) {
        coverage->clear();
    }
}

void RenderSurface::finish() {
    if (options & kOptionAlpha) {
        composeSurface(*this);
    }
}

}  // namespace pm
