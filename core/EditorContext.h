#pragma once

#include "core/InterpolationMode.h"
#include "core/TickTime.h"

namespace pm {

// What a track needs to know about the scene it animates: the mode for keys added outside the
// existing range, and the scene length that sizes the Constant look-ahead.
class EditorContext {
public:
    virtual ~EditorContext() = default;
    virtual InterpolationMode defaultInterpolationMode() const = 0;
    virtual TickTime editorLength() const = 0;
};

}  // namespace pm
