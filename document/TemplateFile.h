#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/TickTime.h"
#include "render/ImageBuffer.h"

namespace pm {

class ProjectContext;
class Scene;
class UndoHistory;

// Motion templates (".MZT"): the motion of one scene, to be laid onto others; and the settings
// a project template (".MZS") gives a new project. Failures go to the project's error record:
// 6216 "Could not save template file", 6215 "Could not load template file".
namespace templates {

inline constexpr int kIconSide = 128;

// Writes the scene's keys and picture preparation, with an icon of the motion. False only when
// the file cannot be written at all.
bool saveMotionTemplate(Scene& scene, const std::filesystem::path& path);
// Replaces the scene's keys with the template's, stretched to the scene's own length; the
// scene's picture stays. A file that is not a motion template gives 0 with 6215 recorded.
bool applyMotionTemplate(ProjectContext& context, int sceneId, const std::filesystem::path& path);
bool isMotionTemplate(const std::filesystem::path& path);
// The stored icon (a new Bgra32 buffer, freed with PerfKit::free); false without one.
bool readTemplateIcon(const std::filesystem::path& path, ImageBuffer& icon);
// 1 landscape pictures, 2 portrait ones, anything else both; 0 when the file cannot be read.
int readTemplateOrientation(const std::filesystem::path& path);

enum class ApplyOrder { InOrder, Random, RandomByOrientation };

// Lays a list of templates onto the selected scenes (by id), from the last scene of the table to
// the first, in one change batch. Stops at a file that is not a motion template (6215 recorded,
// result false); other failures are reported and the list goes on. When every template went on,
// the step "Template Applied" is recorded in `history` (when given).
bool applyTemplateList(ProjectContext& context, const std::vector<int>& selectedIds,
                       const std::vector<std::filesystem::path>& list, ApplyOrder order,
                       UndoHistory* history = nullptr);

struct ProjectTemplate {
    std::string name;
    std::string info;
    TickTime sceneLength = 135'000'000;
    TickTime overlap = kTicksPerSecond;
    TickTime soundFadeIn = kTicksPerSecond;
    TickTime soundFadeOut = kTicksPerSecond;
    std::string soundFile;       // may begin with a path macro
    std::string templateFolder;  // may begin with a path macro
};
// Nothing when the file is not a project template.
std::optional<ProjectTemplate> readProjectTemplate(const std::filesystem::path& path);

}  // namespace templates
}  // namespace pm
