#pragma once

#include <memory>

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

    // `time` is a normalized project time. Returns 0 on failure, 3 when only background was
    // drawn, otherwise the lowest quality of the scenes drawn.
    int renderFrame(double time, const ImageBuffer& target, int fieldMode, float yScale,
                    int kind) override;
    int renderField(double time, const ImageBuffer& fieldTarget, bool isFirstField, float yScale,
                    int kind) override;

    // Bands each scene's cells are drawn in (0: one per processor).
    void setBands(int bands) { m_bands = bands; }

    // Fills the rows of `fieldMode` (0 all) with the project's background colour.
    void fillBackground(const ImageBuffer& target, int fieldMode) const;

private:
    int renderScene(int index, double sceneTime, const ImageBuffer& target, int fieldMode,
                    float yScale, int kind);

    ProjectContext& m_context;
    int m_bands = 0;
    std::unique_ptr<RenderScratch> m_scratch;
};

}  // namespace pm
