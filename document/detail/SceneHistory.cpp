#include "document/detail/SceneHistory.h"

#include <algorithm>

#include "core/Scene.h"
#include "render/SceneImage.h"
#include "store/StoreKey.h"
#include "document/ProjectFile.h"
#include "document/detail/ProjectFileParts.h"

namespace pm::detail {

bool SceneHistory::hasSnapshotAt(int step) const {
    return std::any_of(m_snapshots.begin(), m_snapshots.end(),
                       [step](const Snapshot& s) { return s.step == step; });
}

bool SceneHistory::append(ProjectFile& file, Scene& scene, int step) {
    auto store = std::make_unique<MemoryStorage>();
    StoreKeyPtr root = store->open() ? store->root() : nullptr;
    // A snapshot that cannot be made is missing: restoring that step leaves the scene alone.
    if (!root || !file.writeSceneSnapshot(*root, scene)) {
        return false;
    }
    // Snapshots name pictures, they do not copy them; one held in memory is shared.
    const SceneImage* image = sceneImageOf(scene);
    m_snapshots.push_back({step, std::move(store), image ? image->memoryBytes() : nullptr});
    return true;
}

void SceneHistory::record(ProjectFile& file, Scene& scene, int step, bool changed, int depth) {
    if (m_snapshots.empty()) {
        append(file, scene, step);
        return;
    }
    // The first snapshot is how the scene came into the history; it stays.
    while (m_snapshots.size() > 1 && m_snapshots.back().step >= step) {
        m_snapshots.pop_back();
    }
    if (changed) {
        append(file, scene, step);
    }
    // A snapshot serves the steps up to the next one; once the next one lies at or before the
    // oldest step undo can reach, nothing needs it.
    const int oldest = step - depth;
    const std::size_t count = m_snapshots.size();
    std::size_t kept = 1;
    for (std::size_t i = 1; i < count; ++i) {
        if (i + 1 == count || m_snapshots[i + 1].step > oldest) {
            if (kept != i) {
                m_snapshots[kept] = std::move(m_snapshots[i]);
            }
            ++kept;
        }
    }
    m_snapshots.resize(kept);
}

bool SceneHistory::restore(ProjectFile& file, Scene& scene, int step,
                           ProgressReporter* progress) const {
    const Snapshot* found = nullptr;
    for (const Snapshot& s : m_snapshots) {
        if (s.step <= step) {
            found = &s;
        }
    }
    StoreKeyPtr root = found ? found->store->root() : nullptr;
    return root && file.readSceneSnapshot(*root, scene, progress, found->pictureBytes);
}

void SceneHistory::holdPictures(ProjectFile& file, const std::set<std::string>& inUse) {
    for (Snapshot& s : m_snapshots) {
        StoreKeyPtr root = s.store->root();
        StoreKeyPtr settings = root ? root->openChild(key::kRenderSettings) : nullptr;
        if (!settings) {
            continue;
        }
        const std::string keyname = settings->readString(key::kKeyname);
        if (keyname.empty() || inUse.count(keyname) != 0) {
            continue;
        }
        if (!s.pictureBytes) {
            s.pictureBytes = file.embeddedPictureBytes(keyname);
        }
        // Without its bytes the scene comes back with the built-in picture rather than with
        // whatever the new file keeps under that name.
        settings->deleteValue(key::kKeyname);
    }
}

}  // namespace pm::detail
