#include "render/ScenePictureFactory.h"

#include <memory>

#include "core/ProjectContext.h"
#include "render/SceneImage.h"

namespace pm {

void installScenePictures(ProjectContext& context) {
    ProjectContext* owner = &context;
    context.setPictureFactory(
        [owner]() -> std::unique_ptr<ScenePicture> { return std::make_unique<SceneImage>(owner); });
}

void applyImageMemory(ProjectContext& context, Project::ImageMemory memory) {
    Project& project = context.project();
    const bool wasLimited = project.imageMemory().limitPerScene;
    project.setImageMemory(memory);
    if (!wasLimited || memory.limitPerScene) {
        return;
    }
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene* scene = project.sceneAt(i);
        ScenePicture& picture = scene->picture();
        if (picture.isLoaded() && !picture.isDefault() &&
            picture.width() < picture.decodedWidth()) {
            auto* image = dynamic_cast<SceneImage*>(&picture);
            if (image != nullptr) {
                std::lock_guard lock(scene->rendererLock());
                image->reload(nullptr, context.errors());
            }
        }
    }
}

}  // namespace pm
