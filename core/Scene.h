#pragma once

#include <memory>

#include "core/RendererGate.h"
#include "core/SceneMotion.h"
#include "core/ScenePicture.h"

namespace pm {

class ProjectContext;

// One scene of a project: its motion, its picture and its identity. Scenes are created by the
// project (add, insert, copy) and live until deleted or until the project is reset.
class Scene : public SceneMotion {
public:
    Scene(ProjectContext& context, int id, std::unique_ptr<ScenePicture> picture);

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }

    ScenePicture& picture() { return *m_picture; }
    const ScenePicture& picture() const { return *m_picture; }

    // Renders of the scene pass through it; changes to what they read (the picture, its timing,
    // the mesh) wait there for them.
    RendererGate& rendererGate() const { return m_rendererGate; }

    bool lengthModified() const { return m_lengthModified; }
    void setLengthModified(bool modified) { m_lengthModified = modified; }

    // The picture's size with the project's output frame.
    MotionGeometry motionGeometry() const override;

    ProjectContext& project() const { return m_project; }

private:
    ProjectContext& m_project;
    int m_id;
    std::unique_ptr<ScenePicture> m_picture;
    bool m_lengthModified = false;
    mutable RendererGate m_rendererGate;
};

}  // namespace pm
