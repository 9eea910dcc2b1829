#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/TickTime.h"

namespace pm {

class ProgressReporter;
class ProjectContext;

// Many pictures made into scenes at the end of the project, as a new show, a drop of a folder or
// the wizards do. Pictures are decoded two at a time on threads of their own while the scenes
// before them are added; the scenes enter in the given order, in one change batch. Each picture
// that cannot be read is skipped, with its message, and the rest go on. The picture cache, when
// one is attached, decides which of the pictures stay in memory.
struct InsertedPicture {
    std::string path;
    int sceneId = -1;     // -1: skipped
    std::string problem;  // why it was skipped, in the error record's words
};

// `each` is told of every picture in order, as it is added or skipped. Progress runs over the
// pictures; a cancel stops before the next one. Returns how many scenes were added.
int appendPictures(ProjectContext& context, const std::vector<std::string>& paths, TickTime length,
                   ProgressReporter* progress,
                   const std::function<void(const InsertedPicture&)>& each = {});

}  // namespace pm
