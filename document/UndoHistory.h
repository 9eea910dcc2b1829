#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/MessageIds.h"

namespace pm {

class ProgressReporter;
class ProjectContext;
class ProjectFile;
class SoundTrack;

namespace detail {
class SceneHistory;
}

// Undo and redo for the whole project, 32 steps deep. Every user action that changes the project
// ends with record(action name id); undo and redo move between the recorded steps.
//
// A step is kept as state, not as a command: parts of the project in memory stores, in the
// project file's own node format. Start times with the project's settings, the markers and the
// sound settings are kept at every step; a scene only at the steps that changed it (its change
// flags say so), so a step that touched one scene of two hundred writes one scene.
//
// Everything runs on the user-interface thread.
class UndoHistory {
public:
    static constexpr int kDepth = 32;

    // Whether any picture is being loaded in the background; restoring waits for them.
    using LoadingProbe = std::function<bool()>;

    UndoHistory(ProjectContext& context, SoundTrack& sound, ProjectFile& file);
    ~UndoHistory();
    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    // The actions that open, create and save a document. Opening and creating record the base
    // step, which cannot be undone; saving records nothing.
    void setDocumentEvents(int opened, int created, int saved);
    // Without a probe, the scenes' own pictures are asked.
    void setLoadingProbe(LoadingProbe probe);
    // While suspended, nothing is recorded.
    void setSuspended(bool suspended) { m_suspended = suspended; }
    bool suspended() const { return m_suspended; }

    void record(int actionId);
    enum class DocumentEvent { Opened, Created, Saved };
    // Records the action set for the event.
    void record(DocumentEvent event);
    // False when there is nothing to undo (or redo).
    bool undo(ProgressReporter* progress = nullptr);
    bool redo(ProgressReporter* progress = nullptr);
    bool canUndo() const { return m_undoCount != 0; }
    bool canRedo() const { return m_redoCount != 0; }
    // Lets go of every step: the step counter is 1 and nothing can be undone or redone.
    void clear();

    // The names of the steps undo and redo would take, from the string table.
    std::optional<std::string> undoName() const;
    std::optional<std::string> redoName() const;

    int step() const { return m_step; }
    // Names the state the project is in: equal ids are the same step, and a step recorded anew
    // after an undo gets a new id even where the old one stood. Compare it with the id at a save
    // to tell whether there are unsaved changes.
    std::uint64_t stateId() const;
    int undoCount() const { return m_undoCount; }
    int redoCount() const { return m_redoCount; }
    // To be called before every save, which replaces the file kept open by the saved one: the
    // steps keep in memory the pictures that only the old file holds.
    void holdPicturesBeforeSave();

    // Scene snapshots held, over all scenes.
    int sceneSnapshotCount() const;

private:
    // One step more than can be undone: the oldest state reachable needs its own slot.
    static constexpr int kSlots = kDepth + 1;
    struct Slot;

    static int slotOf(int step);
    void snapshotScenes();
    void snapshotProject();
    void restore(int step, bool undoing, ProgressReporter* progress);
    void restoreScenes(int step, bool undoing, ProgressReporter* progress);
    void restoreProject(int step);
    void waitForPictures() const;
    void publishNames();

    ProjectContext& m_context;
    SoundTrack& m_sound;
    ProjectFile& m_file;
    LoadingProbe m_loading;

    int m_opened = msg::kFileOpened;
    int m_created = msg::kNewFileCreated;
    int m_saved = msg::kFileSaved;
    bool m_suspended = false;

    int m_step = 1;
    int m_undoCount = 0;
    int m_redoCount = 0;
    std::array<int, kSlots> m_actions{};
    std::array<std::uint64_t, kSlots> m_stateIds{};
    std::uint64_t m_nextStateId = 0;
    std::array<std::unique_ptr<Slot>, kSlots> m_slots;
    std::vector<detail::SceneHistory> m_scenes;
};

// A menu text: "&Undo " or "&Redo ", the action's name, and the accelerator text.
std::string undoMenuText(bool redo, const std::optional<std::string>& actionName);

}  // namespace pm
