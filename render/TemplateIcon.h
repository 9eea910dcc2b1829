#pragma once

#include <vector>

#include "render/ImageBuffer.h"

namespace pm {

class Scene;

// The picture a motion template shows for itself: the scene's picture reduced to 200 pixels
// (wide, or high for an icon taller than wide), with the frame the camera shows at each of the
// given scene times drawn where it lies on the picture. With trails the frames are laid over one
// another at 30 % each, so the path of the motion shows; without, the later frames cover the
// earlier ones. `iconAspect` 0 or less takes the project's display aspect.
// The result (a new Bgra32 buffer, transparent where no frame lies) is freed with PerfKit::free.
bool drawTemplateIcon(Scene& scene, const std::vector<float>& times, bool trails, double iconAspect,
                      ImageBuffer& icon);

}  // namespace pm
