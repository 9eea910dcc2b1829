#pragma once

#include "core/Project.h"

namespace pm {

class PictureLoader;
class ProjectContext;

// Makes every scene created from now on hold a decoded SceneImage instead of the built-in
// stand-in. With a loader (the picture cache), every scene picture, those that exist included,
// asks it when it must have its pixels; null takes the loader away again.
void installScenePictures(ProjectContext& context, PictureLoader* loader = nullptr);

// Changes the per-picture memory limit. Switching the limit off reloads every loaded picture
// that was reduced, at once; switching it on applies at each picture's next load.
void applyImageMemory(ProjectContext& context, Project::ImageMemory memory);

}  // namespace pm
