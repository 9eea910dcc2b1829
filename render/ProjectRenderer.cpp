#include "render/ProjectRenderer.h"

#include <algorithm>
#include <utility>

#include "core/ErrorInfo.h"
#include "core/MessageIds.h"
#include "core/ProjectContext.h"
#include "render/PerfKit.h"
#include "render/SceneRenderer.h"
#include "render/detail/FrameRows.h"

namespace pm {

namespace {

constexpr std::uint32_t kMemoryFailed = msg::kMemoryAllocationFailed | ErrorInfo::kSerious;

}  // namespace

void ProjectRenderer::fillBackground(const ImageBuffer& target, FieldMode fields) const {
    const Project& project = m_context.project();
    PerfKit::fill(detail::fieldRows(target, fields),
                  detail::packedColour(project.backgroundColour()), project.backgroundColourKind());
}

RenderQuality ProjectRenderer::renderScene(int index, double sceneTime, const ImageBuffer& target,
                                           FieldMode fields, float yScale, PictureAccess access) {
    Scene* scene = m_context.project().sceneAt(index);
    if (!scene) {
        return RenderQuality::Failed;
    }
    SceneRenderer renderer(*scene);
    renderer.setBands(m_bands);
    renderer.setScratch(m_scratch.get());
    return renderer.renderFrame(sceneTime, target, fields, yScale, access);
}

RenderQuality ProjectRenderer::renderFrame(double time, const ImageBuffer& target, FieldMode fields,
                                           float yScale, PictureAccess access) {
    if (!target.pixels) {
        return RenderQuality::Failed;
    }
    // Adding a scene closes the project's gate while it changes the table.
    RendererGate::RenderGuard render(m_context.project().rendererGate());
    const SceneAtTime at = m_context.project().sceneAtTime(time);
    if (at.index < 0) {
        fillBackground(target, fields);
        return RenderQuality::Full;
    }
    if (!at.inTransition) {
        return renderScene(at.index, at.sceneTime, target, fields, yScale, access);
    }
    // The frame buffer of the next scene is kept for the frames after, so that a transition's
    // frames fault in no fresh megabytes each. It is taken out while in use: a render at the same
    // time makes its own, and no lock is held while drawing.
    ImageBuffer next;
    {
        std::lock_guard kept(m_mixLock);
        next = std::move(m_mix);
    }
    if (next.pixels == nullptr || next.format != target.format || next.width != target.width ||
        next.height != target.height) {
        if (PerfKit::allocate(&next, target.format, static_cast<int>(target.width),
                              static_cast<int>(target.height)) != PixelStatus::Ok) {
            m_context.errors().report(kMemoryFailed);
            return RenderQuality::Failed;
        }
    }
    const RenderQuality nextQuality =
        renderScene(at.nextIndex, at.nextSceneTime, next, fields, yScale, access);
    const RenderQuality quality =
        nextQuality != RenderQuality::Failed
            ? renderScene(at.index, at.sceneTime, target, fields, yScale, access)
            : RenderQuality::Failed;
    if (quality != RenderQuality::Failed) {
        // Flattened frames mix byte by byte; frames that keep alpha mix by it.
        const bool alphaAware = !flattenAlpha() && target.format != PixelFormat::Yuy2 &&
                                target.format != PixelFormat::Bgr24;
        const ImageBuffer to = detail::fieldRows(target, fields);
        PerfKit::mix(to, to, detail::fieldRows(next, fields), at.weight4096, alphaAware);
    }
    {
        std::lock_guard kept(m_mixLock);
        m_mix = std::move(next);
    }
    return std::min(quality, nextQuality);
}

RenderQuality ProjectRenderer::renderField(double time, const ImageBuffer& fieldTarget,
                                           bool isFirstField, float yScale, PictureAccess access) {
    if (!fieldTarget.pixels) {
        return RenderQuality::Failed;
    }
    return renderFrame(time, detail::frameOfField(fieldTarget, isFirstField),
                       isFirstField ? FieldMode::First : FieldMode::Second, yScale, access);
}

}  // namespace pm
