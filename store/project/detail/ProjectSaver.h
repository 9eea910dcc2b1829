#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "store/project/detail/ProjectFileParts.h"

namespace pm {

class ProgressReporter;
class Scene;
class StoreKey;

namespace detail {

// One save of a project file: the whole tree goes into a temporary file beside the target,
// which replaces the target only once it is complete and closed.
class ProjectSaver {
public:
    ProjectSaver(ProjectFileParts& parts, std::filesystem::path path, ProgressReporter* progress);
    bool run();

private:
    bool failSave();
    bool checkFreeSpace();
    bool write(StoreKey& root);
    bool writeMarkers(StoreKey& root);
    bool writeScene(StoreKey& root, int index);
    bool writeImage(StoreKey& settings, Scene& scene);
    bool writeStartTimes(StoreKey& root);
    bool writeSound(StoreKey& root);
    void adoptSavedFile();

    ProjectFileParts& m_parts;
    std::filesystem::path m_path;
    ProgressReporter* m_progress;
    bool m_embed = true;
    // Scene nodes of the file last loaded, by the node of the new file that took their pictures.
    std::map<std::string, std::string> m_names;
    std::string m_nodeName;
};

}  // namespace detail
}  // namespace pm
