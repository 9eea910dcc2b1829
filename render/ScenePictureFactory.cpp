#include "render/ScenePictureFactory.h"

#include <memory>
#include <utility>

#include "core/ProjectContext.h"
#include "render/SceneImage.h"

namespace pm {

void installScenePictures(ProjectContext& context, PictureLoader* loader) {
    ProjectContext* owner = &context;
    context.setPictureFactory([owner, loader]() -> std::unique_ptr<ScenePicture> {
        // An export draws its own frames; only the editor's preview wants to hear of new pixels.
        auto refresh = [owner] {
            if (owner->project().exportState() == 0) {
                owner->hooks().requestPreviewRefresh();
            }
        };
        auto image = std::make_unique<SceneImage>(owner, std::move(refresh));
        image->setLoader(loader);
        return image;
    });
    Project& project = context.project();
    if (auto* own = dynamic_cast<SceneImage*>(&project.picture())) {
        own->setLoader(loader);
    }
    for (int i = 0; i < project.sceneCount(); ++i) {
        if (auto* image = dynamic_cast<SceneImage*>(&project.sceneAt(i)->picture())) {
            image->setLoader(loader);
        }
    }
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
                RendererGate::EditGuard edit(scene->rendererGate());
                image->reload(nullptr, context.errors());
            }
        }
    }
}

}  // namespace pm
