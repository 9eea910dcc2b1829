#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "core/MessageIds.h"
#include "document/detail/ProjectFileParts.h"

namespace pm {

class ProgressReporter;
class Scene;
class StoreKey;

namespace detail {

// One save of a project file: the whole tree goes into a temporary file beside the target,
// which replaces the target only once it is complete and closed.
//
// A snapshot saver writes parts of the same tree into a store of the caller's (undo steps):
// pictures are referenced by path or by their node in the file kept open, never copied, the
// sound's bytes stay out, start times carry their scene's id, and failures are not reported.
class ProjectSaver {
public:
    enum class Mode { File, Snapshot };

    ProjectSaver(ProjectFileParts& parts, std::filesystem::path path, ProgressReporter* progress,
                 Mode mode = Mode::File);
    bool run();

    bool writeMarkers(StoreKey& root);
    bool writeSceneNode(StoreKey& node, Scene& scene);
    // The project's own settings and the start times.
    bool writeTiming(StoreKey& root);
    bool writeSound(StoreKey& root);

private:
    // Reports `code` (6206 unless the file format names another) and returns false.
    bool failSave(int code = msg::kCouldNotSaveProject);
    bool checkFreeSpace();
    bool write(StoreKey& root);
    bool writeScene(StoreKey& root, int index);
    bool writeImage(StoreKey& settings, Scene& scene);
    bool writeStartTimes(StoreKey& root);
    void adoptSavedFile();

    ProjectFileParts& m_parts;
    std::filesystem::path m_path;
    ProgressReporter* m_progress;
    Mode m_mode;
    bool m_embed = true;
    // Scene nodes of the file last loaded, by the node of the new file that took their pictures.
    std::map<std::string, std::string> m_names;
    std::string m_nodeName;
};

}  // namespace detail
}  // namespace pm
