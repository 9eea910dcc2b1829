#pragma once

#include <vector>

#include "render/CameraGeometry.h"
#include "render/ImageBuffer.h"
#include "render/Mesh.h"
#include "render/Renderer.h"

namespace pm {

class RendererGate;
class Scene;
class SceneImage;
class RenderScratch;

// Draws one scene's picture into a frame through the camera: picks the picture level, places the
// mesh, maps its cells (one horizontal band of the target per processor, each on its own thread;
// the bytes do not depend on the number of bands), flattens transparency or smooths the outline,
// and blurs.
class SceneRenderer : public Renderer {
public:
    explicit SceneRenderer(Scene& scene);

    // Fills the target (or the field's rows) with the background and draws the scene at a
    // normalized scene time.
    RenderQuality renderFrame(double sceneTime, const ImageBuffer& target, FieldMode fields,
                              float yScale, PictureAccess access) override;
    RenderQuality renderField(double sceneTime, const ImageBuffer& fieldTarget, bool isFirstField,
                              float yScale, PictureAccess access) override;

    // Draws the rectangle (x, y, width, height) of the full picture onto the whole target.
    int drawRegion(const ImageBuffer& target, double x, double y, double width, double height);

    // Bands the cells are drawn in; 0 takes the processor count of the pixel routines.
    void setBands(int bands) { m_bands = bands; }
    // Buffers kept across frames (optional; without it every frame allocates its own).
    void setScratch(RenderScratch* scratch) { m_scratch = scratch; }

    // Blur radius in pixels for a blur value on a target of the given width.
    static double blurRadius(double targetWidth, float blur) { return targetWidth * blur * 0.0005; }

    // Picture of the scene, when the picture library drew it.
    SceneImage* picture() const;

    // Every render enters the scene's gate; changes to what renders read wait there. The gate
    // belongs to the scene, so every renderer drawing the scene shares it.
    RendererGate& gate() const;

private:
    RenderQuality drawScene(double sceneTime, const ImageBuffer& target, FieldMode fields,
                            float yScale, PictureAccess access);
    RenderQuality drawBgra(double sceneTime, const ImageBuffer& target, FieldMode fields,
                           float yScale, PictureAccess access);
    void fillBackground(const ImageBuffer& target, FieldMode fields) const;
    void flatten(const ImageBuffer& target, FieldMode fields) const;
    bool mapCells(const Mesh& mesh, const ImageBuffer& level, const ImageBuffer& target,
                  FieldMode fields);

    Scene& m_scene;
    int m_bands = 0;
    RenderScratch* m_scratch = nullptr;
    bool m_filled = false;
};

}  // namespace pm
