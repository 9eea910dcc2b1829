#include "core/StandaloneMotionContext.h"

#include "core/SceneMotion.h"

namespace pm {

StandaloneMotionContext::StandaloneMotionContext() : m_hub(&m_silent) {}

StandaloneMotionContext::StandaloneMotionContext(ChangeHub& hub) : m_hub(&hub) {}

void StandaloneMotionContext::applySceneLength(SceneMotion& scene, TickTime length) {
    scene.setLength(length);
}

}  // namespace pm
