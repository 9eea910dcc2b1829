#include "render/ProjectRenderer.h"

#include "core/ErrorInfo.h"
#include "core/ProjectContext.h"
#include "render/PerfKit.h"
#include "render/SceneRenderer.h"
#include "render/detail/FrameRows.h"

namespace pm {

namespace {

constexpr std::uint32_t kMemoryFailed = 6101 | ErrorInfo::kSerious;

}  // namespace

void ProjectRenderer::fillBackground(const ImageBuffer& target, int fieldMode) const {
    const Project& project = m_context.project();
    PerfKit::fill(detail::fieldRows(target, fieldMode),
                  detail::packedColour(project.backgroundColour()), project.backgroundColourKind());
}

int ProjectRenderer::renderScene(int index, double sceneTime, const ImageBuffer& target,
                                 int fieldMode, float yScale, int kind) {
    Scene* scene = m_context.project().sceneAt(index);
    if (!scene) {
        return 0;
    }
    SceneRenderer renderer(*scene);
    renderer.setBands(m_bands);
    renderer.setScratch(m_scratch.get());
    return renderer.renderFrame(sceneTime, target, fieldMode, yScale, kind);
}

int ProjectRenderer::renderFrame(double time, const ImageBuffer& target, int fieldMode,
                                 float yScale, int kind) {
    if (!target.pixels) {
        return 0;
    }
    // Adding a scene closes the project's gate while it changes the table.
    RendererGate::RenderGuard render(m_context.project().rendererGate());
    const SceneAtTime at = m_context.project().sceneAtTime(time);
    if (at.index < 0) {
        fillBackground(target, fieldMode);
        return 3;
    }
    if (!at.inTransition) {
        return renderScene(at.index, at.sceneTime, target, fieldMode, yScale, kind);
    }
    ImageBuffer next;
    if (PerfKit::allocate(&next, target.format, static_cast<int>(target.width),
                          static_cast<int>(target.height)) != PixelStatus::Ok) {
        m_context.errors().report(kMemoryFailed);
        return 0;
    }
    const int nextQuality =
        renderScene(at.nextIndex, at.nextSceneTime, next, fieldMode, yScale, kind);
    const int quality =
        nextQuality != 0 ? renderScene(at.index, at.sceneTime, target, fieldMode, yScale, kind) : 0;
    if (quality != 0) {
        // Flattened frames mix byte by byte; frames that keep alpha mix by it.
        const bool alphaAware = !flattenAlpha() && target.format != PixelFormat::Yuy2 &&
                                target.format != PixelFormat::Bgr24;
        const ImageBuffer to = detail::fieldRows(target, fieldMode);
        PerfKit::mix(to, to, detail::fieldRows(next, fieldMode), at.weight4096, alphaAware);
    }
    PerfKit::free(&next);
    return quality == 0 ? 0 : std::min(quality, nextQuality);
}

int ProjectRenderer::renderField(double time, const ImageBuffer& fieldTarget, bool isFirstField,
                                 float yScale, int kind) {
    if (!fieldTarget.pixels) {
        return 0;
    }
    return renderFrame(time, detail::frameOfField(fieldTarget, isFirstField), isFirstField ? 1 : 2,
                       yScale, kind);
}

}  // namespace pm
