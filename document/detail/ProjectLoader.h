#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/StoreKeyPtr.h"
#include "document/detail/ProjectFileParts.h"

namespace pm {

class ProgressReporter;
class Scene;
class StoreKey;

namespace detail {

// One opening of a project file. Every value is checked before it is used: a file that does not
// hold a project fails with 6205, and nothing in it makes the loader take memory beyond the
// file's own size.
//
// A snapshot loader reads back what a snapshot saver wrote (undo steps) into the project as it
// stands: pictures the scenes already hold stay, others are read from their files or from the
// file kept open, and failures are not reported.
class ProjectLoader {
public:
    enum class Mode { File, Snapshot };

    ProjectLoader(ProjectFileParts& parts, std::filesystem::path path, ProgressReporter* progress,
                  Mode mode = Mode::File);
    bool run();
    // Whether run() got as far as replacing the project (a failure before that leaves the open
    // project as it was).
    bool replacedProject() const { return m_replaced; }

    // Snapshot mode.
    // `pictureBytes`: the picture file's bytes when the picture lives in memory only.
    bool readScene(StoreKey& node, Scene& scene,
                   std::shared_ptr<const std::vector<std::uint8_t>> pictureBytes);
    void readTiming(StoreKey& root);
    void readMarkers(StoreKey& root);
    // `bytes`: the sound's own bytes when it was embedded, which snapshots do not hold.
    void readSound(StoreKey& root, std::shared_ptr<const std::vector<std::uint8_t>> bytes);

private:
    // Reports 6205 naming the file and, on a line of its own, what is wrong with it.
    bool fail(const std::string& why = {});
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
    Mode m_mode;
    std::shared_ptr<const std::vector<std::uint8_t>> m_pictureBytes;
    std::shared_ptr<EmbeddedSource> m_source;
    std::uint64_t m_fileSize = 0;
    bool m_replaced = false;
    double m_vAspRatio = 0.0;
    // The scene being read, as a message names it ("scene 3 (ProjectKey2)").
    std::string m_where;
    // Why the last picture could not be read.
    std::string m_pictureError;
};

}  // namespace detail
}  // namespace pm
