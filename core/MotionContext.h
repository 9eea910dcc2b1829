#pragma once

#include "core/TickTime.h"

namespace pm {

class ChangeHub;
class KeyframeRandom;
class MotionTables;
class SceneMotion;

// What a scene's motion needs from the project that owns it: where to announce changes, the shared
// parameter and group tables, the random source of generated motion, and the scene table through
// which a scene's length changes (so that later scenes can follow).
class MotionContext {
public:
    virtual ~MotionContext() = default;
    virtual ChangeHub& changeHub() = 0;
    virtual const MotionTables& motionTables() const = 0;
    virtual KeyframeRandom& keyframeRandom() = 0;
    // Sets the scene's length as the project's scene table does it; the scene is one of this
    // context's scenes.
    virtual void applySceneLength(SceneMotion& scene, TickTime length) = 0;
};

}  // namespace pm
