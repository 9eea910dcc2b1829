#include "core/Scene.h"

#include "core/ProjectContext.h"

namespace pm {

Scene::Scene(ProjectContext& context, int id, std::unique_ptr<ScenePicture> picture)
    : SceneMotion(context), m_project(context), m_id(id), m_picture(std::move(picture)) {}

MotionGeometry Scene::motionGeometry() const {
    const Project& project = m_project.project();
    return MotionGeometry::forPicture(m_picture->width(), m_picture->height(),
                                      m_picture->decodedWidth(), project.vAspRatio(),
                                      project.assumedWidth());
}

}  // namespace pm
