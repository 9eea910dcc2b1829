#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/StoreKeyPtr.h"
#include "store/project/detail/ProjectFileParts.h"

namespace pm {

class ProgressReporter;
class Scene;
class StoreKey;

namespace detail {

// One opening of a project file. Every value is checked before it is used: a file that does not
// hold a project fails with 6205, and nothing in it makes the loader take memory beyond the
// file's own size.
class ProjectLoader {
public:
    ProjectLoader(ProjectFileParts& parts, std::filesystem::path path, ProgressReporter* progress);
    bool run();

private:
    bool fail();
    void loadMarkers(StoreKey& root);
    bool loadProject(StoreKey& root);
    bool loadScenes(StoreKey& root);
    // The id of the scene that stands for the nested project; -1 on failure.
    int loadNested(StoreKey& node);
    bool loadScene(StoreKey& node, Scene& scene, const std::string& nodeName);
    void loadPreparation(StoreKey& node, Scene& scene);
    bool loadImage(StoreKey& settings, Scene& scene, const std::string& nodeName,
                   const std::string& keyname, bool hasAlpha);
    bool loadEmbedded(StoreKey& settings, Scene& scene, const std::string& keyname,
                      const std::string& displayName, bool hasAlpha);
    bool locate(Scene& scene, std::string path);
    bool checkFreeSpace();
    void loadStartTimes(StoreKey& root, const std::vector<int>& ids);
    void loadBackground(StoreKey& root);
    void loadSound(StoreKey& root);
    void copyMetaData(StoreKey& root);

    ProjectFileParts& m_parts;
    std::filesystem::path m_path;
    ProgressReporter* m_progress;
    std::shared_ptr<EmbeddedSource> m_source;
    std::uint64_t m_fileSize = 0;
    double m_vAspRatio = 0.0;
};

}  // namespace detail
}  // namespace pm
