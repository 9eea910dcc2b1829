#pragma once

#include <filesystem>
#include <memory>

#include "document/ProjectFile.h"

namespace pm {

class DocumentHooks;
class ProgressReporter;
class ProjectContext;
class SoundTrack;
class UndoHistory;

// What one open project is made of: the project context (its scenes showing decoded pictures),
// the project's sound and the project file kept open. Opening, saving and starting anew go
// through here, for the command line and the editor alike.
class ProjectDocument {
public:
    ProjectDocument();
    ~ProjectDocument();
    ProjectDocument(const ProjectDocument&) = delete;
    ProjectDocument& operator=(const ProjectDocument&) = delete;

    ProjectContext& context() { return *m_context; }
    SoundTrack& sound() { return *m_sound; }
    ProjectFile& file() { return *m_file; }
    // Starts over with every open and new project, whose first step cannot be undone.
    UndoHistory& history() { return *m_history; }

    // Failures are left in context().errors().
    bool open(const std::filesystem::path& path, ProgressReporter* progress = nullptr);
    bool save(const std::filesystem::path& path, ProgressReporter* progress = nullptr);
    void newProject();
    // The document's file; empty for a project never saved.
    const std::filesystem::path& path() const { return m_path; }

private:
    class LengthFollower;

    std::unique_ptr<ProjectContext> m_context;
    std::unique_ptr<SoundTrack> m_sound;
    std::unique_ptr<ProjectFile> m_file;
    std::unique_ptr<UndoHistory> m_history;
    std::unique_ptr<DocumentHooks> m_hooks;
    std::unique_ptr<LengthFollower> m_follower;
    std::filesystem::path m_path;
};

}  // namespace pm
