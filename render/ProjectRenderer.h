#pragma once

#include <memory>
#include <mutex>

#include "render/RenderScratch.h"
#include "render/Renderer.h"

namespace pm {

class ProjectContext;

// Draws whole project frames: the background alone, one scene, or the two scenes of a transition
// mixed by the next scene's 12-bit weight.
class ProjectRenderer : public Renderer {
public:
    explicit ProjectRenderer(ProjectContext& context)
        : m_context(context), m_scratch(std::make_unique<RenderScratch>()) {}

    // `time` is a normalized project time. Full when only background was drawn, otherwise the
    // lowest quality of the scenes drawn.
    RenderQuality renderFrame(double time, const ImageBuffer& target, FieldMode fields,
                              float yScale, PictureAccess access) override;
    RenderQuality renderField(double time, const ImageBuffer& fieldTarget, bool isFirstField,
                              float yScale, PictureAccess access) override;

    // Bands each scene's cells are drawn in (0: one per processor).
    void setBands(int bands) { m_bands = bands; }

    // Fills the rows of `fields` with the project's background colour.
    void fillBackground(const ImageBuffer& target, FieldMode fields = FieldMode::Frame) const;

private:
    RenderQuality renderScene(int index, double sceneTime, const ImageBuffer& target,
                              FieldMode fields, float yScale, PictureAccess access);

    ProjectContext& m_context;
    int m_bands = 0;
    std::unique_ptr<RenderScratch> m_scratch;
    std::mutex m_mixLock;
    ImageBuffer m_mix;
};

}  // namespace pm
