#include "document/UndoHistory.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <unordered_map>

#include "audio/SoundTrack.h"
#include "core/ProjectContext.h"
#include "core/StringTable.h"
#include "document/ProjectFile.h"
#include "document/detail/EmbeddedSource.h"
#include "document/detail/ProjectFileParts.h"
#include "document/detail/SceneHistory.h"
#include "render/SceneImage.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

constexpr auto kLoadingPoll = std::chrono::milliseconds(50);

// Picture preparation counts its own changes; the history keeps what it saw last.
std::uint32_t preparationCount(const Scene& scene) {
    const SceneImage* image = detail::sceneImageOf(scene);
    return image ? image->prepSettings().changeCount() : 0;
}

bool sceneChanged(const Scene& scene, const detail::SceneHistory& history) {
    return scene.modified() || scene.lengthModified() || scene.picture().modified() ||
           preparationCount(scene) != history.preparationSeen();
}

void clearChanges(Scene& scene, detail::SceneHistory* history) {
    scene.setModified(false);
    scene.setLengthModified(false);
    scene.picture().setModified(false);
    if (history != nullptr) {
        history->setPreparationSeen(preparationCount(scene));
    }
}

}  // namespace

// What every step keeps whole.
struct UndoHistory::Slot {
    MemoryStorage timing;
    MemoryStorage markers;
    MemoryStorage sound;
    // A sound that came embedded in the project file has no file to go back to.
    std::shared_ptr<const std::vector<std::uint8_t>> soundBytes;
};

UndoHistory::UndoHistory(ProjectContext& context, SoundTrack& sound, ProjectFile& file)
    : m_context(context), m_sound(sound), m_file(file) {}

UndoHistory::~UndoHistory() = default;

void UndoHistory::setDocumentEvents(int opened, int created, int saved) {
    m_opened = opened;
    m_created = created;
    m_saved = saved;
}

void UndoHistory::setLoadingProbe(LoadingProbe probe) {
    m_loading = std::move(probe);
}

int UndoHistory::slotOf(int step) {
    const int slot = step % kSlots;
    return slot < 0 ? slot + kSlots : slot;
}

void UndoHistory::clear() {
    m_scenes.clear();
    for (auto& slot : m_slots) {
        slot.reset();
    }
    m_actions.fill(0);
    m_stateIds.fill(0);
    m_step = 1;
    m_stateIds[static_cast<std::size_t>(slotOf(m_step))] = ++m_nextStateId;
    m_undoCount = 0;
    m_redoCount = 0;
    publishNames();
}

void UndoHistory::record(int actionId) {
    if (m_suspended || actionId == m_saved) {
        return;
    }
    ++m_step;
    m_actions[static_cast<std::size_t>(slotOf(m_step))] = actionId;
    m_stateIds[static_cast<std::size_t>(slotOf(m_step))] = ++m_nextStateId;
    {
        ChangeBatch batch(m_context);
        // The steps that could have been redone are gone, and with them the scenes they made.
        const int step = m_step;
        std::erase_if(m_scenes, [step](const detail::SceneHistory& h) {
            return !h.empty() && h.firstStep() >= step;
        });
        for (detail::SceneHistory& h : m_scenes) {
            if (h.disappeared() >= step) {
                h.setDisappeared(-1);
            }
        }
        snapshotScenes();
        snapshotProject();
        if (actionId == m_opened || actionId == m_created) {
            m_undoCount = 0;
        } else {
            m_undoCount = std::min(m_undoCount + 1, kDepth);
        }
        m_redoCount = 0;
    }
    publishNames();
}

void UndoHistory::record(DocumentEvent event) {
    record(event == DocumentEvent::Opened    ? m_opened
           : event == DocumentEvent::Created ? m_created
                                             : m_saved);
}

void UndoHistory::snapshotScenes() {
    Project& project = m_context.project();
    std::unordered_map<int, Scene*> scenes;
    for (int i = 0; i < project.sceneCount(); ++i) {
        scenes.emplace(project.idAt(i), project.sceneAt(i));
    }
    // Scenes are known by id: ids are never handed out twice, and a scene that comes back
    // through undo comes back with its own.
    for (detail::SceneHistory& h : m_scenes) {
        const auto found = scenes.find(h.sceneId());
        if (found == scenes.end()) {
            if (h.disappeared() < 0) {
                h.setDisappeared(m_step);
            }
            continue;
        }
        Scene& scene = *found->second;
        h.record(m_file, scene, m_step, sceneChanged(scene, h), kDepth);
        clearChanges(scene, &h);
        scenes.erase(found);
    }
    // A scene gone for longer than undo reaches cannot come back.
    const int step = m_step;
    std::erase_if(m_scenes, [step](const detail::SceneHistory& h) {
        return h.disappeared() >= 0 && step - h.disappeared() > kDepth;
    });
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene& scene = *project.sceneAt(i);
        if (scenes.count(scene.id()) == 0) {
            continue;
        }
        detail::SceneHistory& h = m_scenes.emplace_back(scene.id());
        h.record(m_file, scene, m_step, true, kDepth);
        clearChanges(scene, &h);
    }
}

void UndoHistory::snapshotProject() {
    std::unique_ptr<Slot>& slot = m_slots[static_cast<std::size_t>(slotOf(m_step))];
    if (!slot) {
        slot = std::make_unique<Slot>();
    }
    const auto write = [this](MemoryStorage& store, ProjectFile::Part part) {
        StoreKeyPtr root = store.open() ? store.root() : nullptr;
        if (!root || !m_file.writeSnapshot(*root, part)) {
            // A part that cannot be kept is left out; restoring the step leaves it alone.
            root.reset();
            store.close();
        }
    };
    write(slot->timing, ProjectFile::Part::Timing);
    write(slot->markers, ProjectFile::Part::Markers);
    write(slot->sound, ProjectFile::Part::Sound);
    slot->soundBytes = m_sound.isEmbedded() ? m_sound.embeddedBytes() : nullptr;
}

std::uint64_t UndoHistory::stateId() const {
    return m_stateIds[static_cast<std::size_t>(slotOf(m_step))];
}

bool UndoHistory::undo(ProgressReporter* progress) {
    if (m_undoCount == 0) {
        return false;
    }
    --m_step;
    restore(m_step, true, progress);
    --m_undoCount;
    ++m_redoCount;
    publishNames();
    m_context.notify(kChangeProject, 2);
    return true;
}

bool UndoHistory::redo(ProgressReporter* progress) {
    if (m_redoCount == 0) {
        return false;
    }
    ++m_step;
    restore(m_step, false, progress);
    ++m_undoCount;
    --m_redoCount;
    publishNames();
    m_context.notify(kChangeProject, 2);
    return true;
}

void UndoHistory::restore(int step, bool undoing, ProgressReporter* progress) {
    waitForPictures();
    ChangeBatch batch(m_context);
    Project& project = m_context.project();
    const int currentId = project.currentSceneId();
    const float cursor = project.current().cursor();
    restoreScenes(step, undoing, progress);
    restoreProject(step);
    if (project.currentSceneId() == currentId) {
        project.current().setCursor(cursor);
    }
}

void UndoHistory::restoreScenes(int step, bool undoing, ProgressReporter* progress) {
    Project& project = m_context.project();
    // The step crossed: undo takes back step + 1, redo repeats step.
    const int crossed = undoing ? step + 1 : step;
    std::vector<detail::SceneHistory*> returning;
    for (detail::SceneHistory& h : m_scenes) {
        const int index = project.indexOf(h.sceneId());
        if (index < 0) {
            const bool back = undoing ? h.disappeared() == crossed && h.firstStep() <= step
                                      : h.firstStep() == step;
            if (back) {
                returning.push_back(&h);
            }
            continue;
        }
        const bool made = h.firstStep() == crossed;
        if (undoing ? made : h.disappeared() == crossed) {
            if (project.currentSceneId() == h.sceneId()) {
                project.selectScene(-1);
            }
            project.deleteScene(index, m_context.reflow());
            continue;
        }
        if (h.hasSnapshotAt(crossed)) {
            Scene& scene = *project.sceneAt(index);
            h.restore(m_file, scene, step, progress);
            clearChanges(scene, &h);
        }
    }
    if (returning.empty()) {
        return;
    }
    // The scenes come back with the ids they had; their places come with the start times.
    m_context.beginRawEdit();
    for (detail::SceneHistory* h : returning) {
        const int id = project.addScene({}, 0, kMinSceneLength, h->sceneId(), progress);
        if (Scene* scene = project.sceneById(id)) {
            h->restore(m_file, *scene, step, progress);
            clearChanges(*scene, h);
        }
    }
    m_context.endRawEdit();
}

void UndoHistory::restoreProject(int step) {
    const std::unique_ptr<Slot>& slot = m_slots[static_cast<std::size_t>(slotOf(step))];
    if (!slot) {
        return;
    }
    const auto read = [this](const MemoryStorage& store, ProjectFile::Part part,
                             std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
        if (StoreKeyPtr root = store.isOpen() ? store.root() : nullptr) {
            m_file.readSnapshot(*root, part, std::move(bytes));
        }
    };
    read(slot->timing, ProjectFile::Part::Timing, nullptr);
    read(slot->markers, ProjectFile::Part::Markers, nullptr);
    read(slot->sound, ProjectFile::Part::Sound, slot->soundBytes);
}

void UndoHistory::waitForPictures() const {
    const auto loading = [this] {
        if (m_loading) {
            return m_loading();
        }
        const Project& project = m_context.project();
        for (int i = 0; i < project.sceneCount(); ++i) {
            if (project.sceneAt(i)->picture().isLoading()) {
                return true;
            }
        }
        return false;
    };
    while (loading()) {
        std::this_thread::sleep_for(kLoadingPoll);
    }
}

std::optional<std::string> UndoHistory::undoName() const {
    if (m_undoCount == 0) {
        return std::nullopt;
    }
    return strings::text(m_actions[static_cast<std::size_t>(slotOf(m_step))]);
}

std::optional<std::string> UndoHistory::redoName() const {
    if (m_redoCount == 0) {
        return std::nullopt;
    }
    return strings::text(m_actions[static_cast<std::size_t>(slotOf(m_step + 1))]);
}

void UndoHistory::publishNames() {
    m_context.hooks().showUndoNames(undoName(), redoName());
}

void UndoHistory::holdPicturesBeforeSave() {
    // The save maps the nodes of the pictures the scenes hold now into the new file; only those.
    std::set<std::string> inUse;
    const Project& project = m_context.project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        const SceneImage* image = detail::sceneImageOf(*project.sceneAt(i));
        const auto held = image ? image->heldPicture() : nullptr;
        if (const auto* embedded = dynamic_cast<const detail::EmbeddedPicture*>(held.get())) {
            inUse.insert(embedded->keyname());
        }
    }
    for (detail::SceneHistory& h : m_scenes) {
        h.holdPictures(m_file, inUse);
    }
}

int UndoHistory::sceneSnapshotCount() const {
    int count = 0;
    for (const detail::SceneHistory& h : m_scenes) {
        count += h.snapshotCount();
    }
    return count;
}

std::string undoMenuText(bool redo, const std::optional<std::string>& actionName) {
    return strings::text(redo ? msg::kRedoPrefix : msg::kUndoPrefix) +
           actionName.value_or(std::string()) + strings::text(redo ? msg::kRedoKey : msg::kUndoKey);
}

}  // namespace pm
