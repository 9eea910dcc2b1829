#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/MemoryStorage.h"

namespace pm {

class ProgressReporter;
class ProjectFile;
class Scene;

namespace detail {

// The states one scene had, as scene nodes in memory stores, each stored at the step where it
// began. A scene is written again only at steps that changed it, so most steps cost a scene
// nothing.
class SceneHistory {
public:
    explicit SceneHistory(int sceneId) : m_sceneId(sceneId) {}
    SceneHistory(SceneHistory&&) = default;
    SceneHistory& operator=(SceneHistory&&) = default;

    int sceneId() const { return m_sceneId; }
    // The step at which the scene disappeared; -1 while it exists.
    int disappeared() const { return m_disappeared; }
    void setDisappeared(int step) { m_disappeared = step; }

    bool empty() const { return m_snapshots.empty(); }
    // The step of the first snapshot (when the history first met the scene); -1 without one.
    int firstStep() const { return m_snapshots.empty() ? -1 : m_snapshots.front().step; }
    bool hasSnapshotAt(int step) const;
    int snapshotCount() const { return static_cast<int>(m_snapshots.size()); }

    // Keeps the scene's state at `step` (the newest step of the history): the first time
    // always, later only when `changed`. Snapshots of cut-off steps go, and so do those that no
    // step within `depth` steps back can need any more.
    void record(ProjectFile& file, Scene& scene, int step, bool changed, int depth);
    // Loads the scene as it was at `step`; false when nothing of it is kept.
    bool restore(ProjectFile& file, Scene& scene, int step, ProgressReporter* progress) const;
    // Before the file kept open is replaced: pictures that snapshots name by their node in it,
    // other than the nodes in `inUse`, are read into memory, since the new file will not have
    // them (and may have other pictures under those names).
    void holdPictures(ProjectFile& file, const std::set<std::string>& inUse);

    // What the scene's picture preparation counted when the history last looked.
    std::uint32_t preparationSeen() const { return m_preparationSeen; }
    void setPreparationSeen(std::uint32_t count) { m_preparationSeen = count; }

private:
    struct Snapshot {
        int step = 0;
        std::unique_ptr<MemoryStorage> store;
        // The picture file's bytes, for a picture that lives in memory only.
        std::shared_ptr<const std::vector<std::uint8_t>> pictureBytes;
    };
    bool append(ProjectFile& file, Scene& scene, int step);

    int m_sceneId;
    int m_disappeared = -1;
    std::vector<Snapshot> m_snapshots;
    std::uint32_t m_preparationSeen = 0;
};

}  // namespace detail
}  // namespace pm
