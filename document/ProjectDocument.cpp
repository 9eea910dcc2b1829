#include "document/ProjectDocument.h"

#include "audio/SoundTrack.h"
#include "core/ChangeListener.h"
#include "core/ProjectContext.h"
#include "render/ScenePictureFactory.h"
#include "document/DocumentHooks.h"
#include "document/UndoHistory.h"

namespace pm {

// The sound ends where the project ends, so it follows every change of the project's length.
class ProjectDocument::LengthFollower final : public ChangeListener {
public:
    LengthFollower(ProjectContext& context, SoundTrack& sound)
        : m_context(context), m_sound(sound) {}
    std::int32_t onChange(std::uint32_t code, ChangeArgument) override {
        if (code >= kChangeProjectReplaced && code <= kChangeCurrentScene) {
            m_sound.setProjectLength(m_context.project().projectLength());
        }
        return 0;
    }

private:
    ProjectContext& m_context;
    SoundTrack& m_sound;
};

ProjectDocument::ProjectDocument()
    : m_context(std::make_unique<ProjectContext>()),
      m_sound(std::make_unique<SoundTrack>()),
      m_hooks(std::make_unique<DocumentHooks>()) {
    installScenePictures(*m_context);
    m_context->setHooks(m_hooks.get());
    ProjectContext* context = m_context.get();
    m_sound->setChangeCallback([context](int code, int argument) {
        context->notify(static_cast<std::uint32_t>(code), static_cast<ChangeArgument>(argument));
    });
    m_file = std::make_unique<ProjectFile>(*m_context, *m_sound);
    m_history = std::make_unique<UndoHistory>(*m_context, *m_sound, *m_file);
    m_follower = std::make_unique<LengthFollower>(*m_context, *m_sound);
    m_context->addListener(m_follower.get());
    m_context->initialise();
    m_sound->setProjectLength(m_context->project().projectLength());
    m_history->record(UndoHistory::DocumentEvent::Created);
}

ProjectDocument::~ProjectDocument() {
    m_context->removeListener(m_follower.get());
    m_sound->setChangeCallback(nullptr);
    // Scenes go before the file their pictures may read from.
    m_context->setHooks(nullptr);
}

bool ProjectDocument::open(const std::filesystem::path& path, ProgressReporter* progress) {
    m_context->hooks().setDocumentPath(path.string());
    m_history->clear();
    bool replaced = false;
    const bool ok = m_file->load(path, progress, &replaced);
    // A refused file must never become the target of the next save: the project still open
    // keeps its own path, and what is left of a half-read file has none.
    if (ok) {
        m_path = path;
    } else if (replaced) {
        m_path.clear();
    }
    if (!ok) {
        m_context->hooks().setDocumentPath(m_path.string());
    }
    m_context->notify(kChangeProjectReplaced, 0);
    // Whatever the load left is the base of the new history.
    m_history->record(UndoHistory::DocumentEvent::Opened);
    return ok;
}

bool ProjectDocument::save(const std::filesystem::path& path, ProgressReporter* progress) {
    m_history->holdPicturesBeforeSave();
    if (!m_file->save(path, progress)) {
        return false;
    }
    m_path = path;
    m_context->hooks().setDocumentPath(path.string());
    m_history->record(UndoHistory::DocumentEvent::Saved);
    return true;
}

void ProjectDocument::newProject() {
    m_history->clear();
    {
        ChangeBatch batch(*m_context, false);
        m_context->project().selectScene(-1);
        m_context->clearMarkers();
        m_context->project().reset();
        m_sound->clear();
        m_file->close();
    }
    m_path.clear();
    m_context->hooks().setDocumentPath({});
    m_context->notify(kChangeProjectReplaced, 0);
    m_history->record(UndoHistory::DocumentEvent::Created);
}

}  // namespace pm
