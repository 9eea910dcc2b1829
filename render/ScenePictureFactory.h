#pragma once

#include "core/Project.h"

namespace pm {

class ProjectContext;

// Makes every scene created from now on hold a decoded SceneImage instead of the built-in
// stand-in. Scenes that already exist keep their pictures.
void installScenePictures(ProjectContext& context);

// Changes the per-picture memory limit. Switching the limit off reloads every loaded picture
// that was reduced, at once; switching it on applies at each picture's next load.
void applyImageMemory(ProjectContext& context, Project::ImageMemory memory);

}  // namespace pm
