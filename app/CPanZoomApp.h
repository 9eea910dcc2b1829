#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppIdentity.h"
#include "app/AppRegistry.h"
#include "app/AppSettings.h"
#include "app/CommandLine.h"
#include "app/MemorySettings.h"
#include "app/PathMacros.h"
#include "app/PreferenceParticipant.h"
#include "app/Preferences.h"
#include "app/RememberedFolders.h"
#include "app/TempFileList.h"
#include "app/TempFolder.h"
#include "core/HostHooks.h"
#include "core/ProjectContext.h"
#include "document/DocumentHooks.h"
#include "document/PendingUndoAction.h"
#include "document/ProjectDocument.h"
#include "document/UndoHistory.h"

namespace pm {

class ExporterManager;
class HeadlessHostServices;
class ImageCache;
class ProjectCacheOwner;
namespace plugin {
class HostServices;
}

// Change codes the application broadcasts about itself.
inline constexpr std::uint32_t kChangeAppState = 0x20001;
inline constexpr std::uint32_t kChangeEditMode = 0x20002;
inline constexpr std::uint32_t kChangeTimeDisplay = 0x40000;

// The application object: lives for the whole run and owns what belongs to no window — the path
// macros, the settings, the temporary folder and files, the exporter modules, the project
// context and the application state. It creates no window; the editor's main window owns one and
// adds the dialogs (deriving to override the missing-file hooks and the preview refresh).
class CPanZoomApp : public HostHooks, public PreferenceParticipant {
public:
    // Opens a project file into the context; false with the reason in the context's error record.
    using ProjectOpener = std::function<bool(ProjectContext& context, const std::string& path)>;
    // Receives the start-up status lines (the modules loaded, the installed version).
    using StatusSink = std::function<void(const std::string& text)>;
    // Asks a yes/no question by string-table id; true for yes.
    using Question = std::function<bool(int messageId)>;

    static constexpr int kEditProject = 0;
    static constexpr int kEditScene = 1;

    // Settings in this user's and this installation's registry files.
    CPanZoomApp();
    explicit CPanZoomApp(AppRegistry registry);
    ~CPanZoomApp() override;
    CPanZoomApp(const CPanZoomApp&) = delete;
    CPanZoomApp& operator=(const CPanZoomApp&) = delete;

    // Before start-up: how project files are opened (until set, opening reports that the file
    // could not be loaded), where status lines go, and the services exporters get.
    void setProjectOpener(ProjectOpener opener);
    void setStatusSink(StatusSink sink) { m_status = std::move(sink); }
    void setHostServices(plugin::HostServices* services);

    // Start-up as far as it needs no window: pixel routines, path macros, the time display, the
    // temporary folder, the project core, the exporter modules, the command line's project (or a
    // new one) and the preferences. False when the program cannot run, with the reason in
    // errors(); a failure worth showing that does not stop the program stays in errors() too.
    bool initInstance(const CommandLine& commandLine);
    // Closing the main window: saves the preferences (once they were loaded).
    bool close();
    // Shut-down: saves the preferences unless close() did, unloads the exporter modules, deletes
    // the temporary files and gives up the temporary folder.
    void exitInstance();
    bool isRunning() const { return m_running; }

    // Sets the six path macros from the registry and the system folders.
    void setPathMacros();

    ProjectContext& context() { return m_context; }
    ErrorInfo& errors() { return m_context.errors(); }
    PathMacros& macros() { return m_macros; }
    const PathMacros& macros() const { return m_macros; }
    AppRegistry& registry() { return m_registry; }
    RememberedFolders& folders() { return m_folders; }
    Preferences& preferences() { return m_preferences; }
    ExporterManager* exporters() { return m_exporters.get(); }
    TempFileList& tempFiles() { return m_tempFiles; }
    const TempFolder& tempFolder() const { return m_tempFolder; }
    const AppSettings& settings() const { return m_settings; }

    // Application state.
    bool dialogMode() const { return m_dialogMode; }
    int appState() const { return m_appState; }
    void setAppState(int state);
    int editMode() const { return m_editMode; }
    void setEditMode(int mode);
    bool sceneTime() const { return m_sceneTime; }
    void setSceneTime(bool sceneTime);
    TickTime displayFrameDuration() const { return m_settings.displayFrameDuration; }
    int timecodeType() const { return m_settings.timecodeType; }
    void setTimeDisplay(TickTime frameDuration, int timecodeType);
    std::string formatTime(TickTime ticks) const;
    TickTime parseTime(std::string_view text) const;

    // Preference values the preferences dialog edits.
    void setUseDefaultScene(bool use) { m_settings.useDefaultScene = use; }
    void setImagesInProject(bool inProject) { m_settings.imagesInProject = inProject; }
    void setReplaceAutoCheck(bool autoCheck) { m_settings.replaceAutoCheck = autoCheck; }
    void setDefaultInterpolation(int mode);
    void setDefaultPosSmoothing(double smoothing);

    // A keyframe edit in progress (a drag, a typed value) becomes one undo step when it ends.
    PendingUndoAction& pendingUndo() { return m_pendingUndo; }
    void finishEdit() { m_pendingUndo.finish(m_document.history()); }
    // The project's undo history; undo and redo wait for pictures the cache is loading.
    UndoHistory& history() { return m_document.history(); }
    bool undo() { return m_document.history().undo(); }
    bool redo() { return m_document.history().redo(); }

    // The picture cache, for the whole run.
    ImageCache& imageCache() { return *m_imageCache; }
    // The "Config" page's memory settings; setting them applies them at once (the picture limit
    // and the cache's budget).
    const MemorySettings& memorySettings() const { return m_memory; }
    void setMemorySettings(const MemorySettings& settings);

    // Projects.
    bool newProject();
    bool openProject(const std::string& path);
    const std::string& documentPath() const { return m_documentPath; }

    // Preferences of every participant, in the section under the program's key.
    bool loadPreferences(std::string_view section = kSettingsSection);
    bool savePreferences(std::string_view section = kSettingsSection);
    // After a yes to question 501, every participant takes its defaults; nothing is written until
    // the next save. False when the answer was no.
    bool restoreDefaultSettings(const Question& ask);

    // What start-up leaves for the editor.
    const std::vector<std::string>& loadedModules() const { return m_loadedModules; }
    bool launchWizardAtStartup() const { return m_launchWizard; }
    const std::string& helpFilePath() const { return m_helpFilePath; }
    const std::string& undoMenuText() const { return m_undoText; }
    const std::string& redoMenuText() const { return m_redoText; }
    bool canUndo() const { return m_canUndo; }
    bool canRedo() const { return m_canRedo; }

    // HostHooks.
    std::int32_t onNotification(std::uint32_t code, ChangeArgument argument) override;
    void showUndoNames(const std::optional<std::string>& undo,
                       const std::optional<std::string>& redo) override;
    void setDocumentPath(const std::string& path) override;
    std::int32_t searchForMissingFile(std::string& path) override;

    // PreferenceParticipant: the application's own values.
    void exchangePreferences(StoreKey& settings, bool save) override;

private:
    bool guardTempFolder();
    void loadExporters();
    void applyKeyframeSettings();
    void applyMemorySettings();
    void status(const std::string& text);

    AppRegistry m_registry;
    PathMacros m_macros;
    RememberedFolders m_folders{m_registry, m_macros};
    Preferences m_preferences;
    AppSettings m_settings;
    TempFolder m_tempFolder;
    TempFileList m_tempFiles;
    ProjectOpener m_openProject;
    StatusSink m_status;
    std::unique_ptr<HeadlessHostServices> m_headlessServices;
    plugin::HostServices* m_hostServices = nullptr;
    std::unique_ptr<ExporterManager> m_exporters;
    std::vector<std::string> m_loadedModules;
    // The headless answers to missing files (the same-folder search) that the editor's dialogs
    // will replace.
    DocumentHooks m_documentHooks;
    // Last: its scenes and hooks call back into the members above while it is destroyed.
    ProjectDocument m_document;
    ProjectContext& m_context;

    bool m_running = false;
    bool m_closed = false;
    bool m_preferencesLoaded = false;
    bool m_dialogMode = false;
    bool m_launchWizard = false;
    int m_appState = 0;
    int m_editMode = kEditScene;
    bool m_sceneTime = true;
    PendingUndoAction m_pendingUndo;
    std::string m_documentPath;
    std::string m_helpFilePath;
    std::string m_undoText;
    std::string m_redoText;
    bool m_canUndo = false;
    bool m_canRedo = false;
    std::uint64_t m_physicalMegabytes = 0;
    MemorySettings m_memory;
    // After the document: the loader thread is stopped before the scenes it loads go.
    std::unique_ptr<ProjectCacheOwner> m_cacheOwner;
    std::unique_ptr<ImageCache> m_imageCache;
};

}  // namespace pm
