#include "app/CPanZoomApp.h"

#include <algorithm>
#include <utility>

#include "app/PixelSettings.h"
#include "app/SystemFolders.h"
#include "core/MessageIds.h"
#include "core/StringTable.h"
#include "core/Timecode.h"
#include "export/ExporterManager.h"
#include "render/ImageCache.h"
#include "render/PerfKit.h"
#include "render/ProjectCacheOwner.h"
#include "render/ScenePictureFactory.h"
#include "store/NullKey.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

// Failures with no message of their own name the file and the reason after this text.

}  // namespace

CPanZoomApp::CPanZoomApp() : CPanZoomApp(AppRegistry()) {}

CPanZoomApp::CPanZoomApp(AppRegistry registry)
    : m_registry(std::move(registry)),
      m_headlessServices(std::make_unique<HeadlessHostServices>()),
      m_hostServices(m_headlessServices.get()),
      m_context(m_document.context()),
      m_physicalMegabytes(MemorySettings::physicalMegabytes()),
      m_memory(MemorySettings::defaults(m_physicalMegabytes)),
      m_cacheOwner(std::make_unique<ProjectCacheOwner>(m_context)),
      m_imageCache(std::make_unique<ImageCache>(*m_cacheOwner)) {
    m_cacheOwner->attach(m_imageCache.get());
    m_document.history().setLoadingProbe(
        [cache = m_imageCache.get()] { return cache->isLoadingInBackground(); });
    m_context.setHooks(this);
    m_preferences.attach(PreferenceSlot::Application, this);
    setProjectOpener(nullptr);
}

CPanZoomApp::~CPanZoomApp() {
    exitInstance();
    // The loader thread ends (its decode cancelled) before anything it might load goes.
    m_cacheOwner->attach(nullptr);
    m_document.history().setLoadingProbe(nullptr);
    m_imageCache.reset();
    m_context.setHooks(nullptr);
}

void CPanZoomApp::setProjectOpener(ProjectOpener opener) {
    if (opener) {
        m_openProject = std::move(opener);
        return;
    }
    // The document's own file reading; another opener serves tests and special starts.
    m_openProject = [this](ProjectContext& context, const std::string& path) {
        if (&context != &m_context) {
            return context.errors().report(msg::kCouldNotLoadProject, {}, path) != 0;
        }
        return m_document.open(path);
    };
}

void CPanZoomApp::setHostServices(plugin::HostServices* services) {
    m_hostServices = services != nullptr ? services : m_headlessServices.get();
}

void CPanZoomApp::status(const std::string& text) {
    if (m_status) {
        m_status(text);
    }
}

void CPanZoomApp::setPathMacros() {
    using Root = AppRegistry::Root;
    const std::string temp =
        m_registry.readString(Root::User, {}, "TempDir").value_or(SystemFolders::temporaryBase());
    m_macros.set("TMP", temp);
    const std::optional<std::string> destDir = m_registry.readString(Root::Machine, {}, "DestDir");
    const std::string prefix = destDir.value_or(SystemFolders::installPrefix());
    m_macros.set("PRG", prefix);
    m_macros.set("CMN", SystemFolders::commonFolder(*m_macros.value("PRG")));
    m_macros.set("IMG", SystemFolders::picturesFolder());
    if (auto config = m_registry.readString(Root::User, {}, "ConfigDir")) {
        m_macros.set("CFG", *config);
    } else {
        m_macros.set("CFG", SystemFolders::configFolder().value_or(prefix));
    }
    m_macros.set("USR", m_registry.readString(Root::User, {}, "UserDir")
                            .value_or(SystemFolders::documentsFolder()));
}

bool CPanZoomApp::initInstance(const CommandLine& commandLine) {
    exitInstance();
    errors().clear();
    m_closed = false;
    m_preferencesLoaded = false;
    m_dialogMode = commandLine.dialogMode();

    // Chosen once, before any other thread renders.
    if (StoreKeyPtr machine = m_registry.openRoot(AppRegistry::Root::Machine)) {
        PerfKit::initialise(readCpuOptions(*machine));
    } else {
        PerfKit::initialise(std::nullopt);
    }
    setPathMacros();

    m_settings = AppSettings{};
    if (StoreKeyPtr section = m_registry.openUserKey(kSettingsSection, false)) {
        m_settings.readUseDefaultScene(*section);
    }
    m_settings.applyVideoFormat(
        m_registry.readDword(AppRegistry::Root::Machine, {}, "VideoFormat"));

    if (!guardTempFolder()) {
        return false;
    }
    if (!m_context.initialise(m_settings.useDefaultScene)) {
        if (!errors().hasFailure()) {
            errors().report(msg::kCannotInitialise);
        }
        m_tempFolder.release();
        return false;
    }
    m_running = true;
    if (!m_registry.lastError().empty()) {
        // A damaged settings file is left as it is; the program runs on its defaults.
        errors().report(msg::kCannotInitialise, {}, m_registry.lastError());
    }

    m_helpFilePath = m_macros.expand("{PRG}/help/" + SystemFolders::executableName() + ".html");

    loadExporters();
    if (auto version = m_registry.readString(AppRegistry::Root::Machine, {}, "Version")) {
        status(*version);
    }

    const bool opened =
        commandLine.fileName.empty() ? newProject() : openProject(commandLine.fileName);
    if (!opened) {
        // Nothing was loaded, so nothing may overwrite the stored preferences.
        m_closed = true;
        exitInstance();
        return false;
    }

    loadPreferences();

    m_launchWizard =
        commandLine.fileName.empty() &&
        m_registry.readDword(AppRegistry::Root::User, "ProjWiz", "PWLaunchStartup").value_or(1) !=
            0;
    return true;
}

bool CPanZoomApp::guardTempFolder() {
    m_macros.createFolderPath("{TMP}");
    const auto folder = TempFolder::folderFor(m_macros.expand("{TMP}"));
    std::string why;
    if (!m_tempFolder.acquire(folder, &why)) {
        errors().report(msg::kCannotInitialise, {}, why);
        return false;
    }
    m_tempFiles.setFolder(folder);
    return true;
}

void CPanZoomApp::loadExporters() {
    m_exporters = std::make_unique<ExporterManager>(*m_hostServices);
    m_loadedModules = m_exporters->loadFolder(m_macros.expand("{PRG}/plugins"));
    for (const auto& name : m_loadedModules) {
        status(name);
    }
}

bool CPanZoomApp::close() {
    m_closed = true;
    return m_preferencesLoaded && savePreferences();
}

void CPanZoomApp::exitInstance() {
    if (!m_running) {
        return;
    }
    if (!m_closed) {
        close();
    }
    m_imageCache->unloadAll();
    m_exporters.reset();
    m_loadedModules.clear();
    m_tempFiles.deleteAll();
    m_tempFolder.release();
    m_running = false;
}

void CPanZoomApp::setAppState(int state) {
    m_appState = state;
    m_context.notify(kChangeAppState, state);
}

void CPanZoomApp::setEditMode(int mode) {
    if (mode == m_editMode) {
        return;
    }
    m_editMode = mode;
    m_context.notify(kChangeEditMode, mode);
}

void CPanZoomApp::setSceneTime(bool sceneTime) {
    if (sceneTime == m_sceneTime) {
        return;
    }
    m_sceneTime = sceneTime;
    if (m_editMode == kEditScene) {
        m_context.notify(kChangeTimeDisplay, 0);
    }
}

void CPanZoomApp::setTimeDisplay(TickTime frameDuration, int timecodeType) {
    const TickTime duration = effectiveFrameDuration(frameDuration);
    if (duration == m_settings.displayFrameDuration && timecodeType == m_settings.timecodeType) {
        return;
    }
    m_settings.displayFrameDuration = duration;
    m_settings.timecodeType = timecodeType;
    m_context.notify(kChangeTimeDisplay, 0);
}

std::string CPanZoomApp::formatTime(TickTime ticks) const {
    return formatTimecode(ticks, m_settings.displayFrameDuration, m_settings.timecodeType);
}

TickTime CPanZoomApp::parseTime(std::string_view text) const {
    return parseTimecode(text, m_settings.displayFrameDuration, m_settings.timecodeType);
}

void CPanZoomApp::setDefaultInterpolation(int mode) {
    if (mode >= 1 && mode <= 3) {
        m_settings.defaultInterpolation = mode;
        applyKeyframeSettings();
    }
}

void CPanZoomApp::setDefaultPosSmoothing(double smoothing) {
    m_settings.defaultPosSmoothing = smoothing;
    applyKeyframeSettings();
}

void CPanZoomApp::applyKeyframeSettings() {
    // The table serves every scene made from now on; the scene being edited takes the values at
    // once, the others when they are next created or loaded.
    m_context.tables().setPositionSmoothing(m_settings.defaultPosSmoothing);
    Scene& current = m_context.project().current();
    current.takeParameterInfo();
    current.setDefaultInterpolationMode(
        static_cast<InterpolationMode>(m_settings.defaultInterpolation));
}

bool CPanZoomApp::newProject() {
    // No background load may run while the scenes it loads are deleted.
    m_imageCache->unloadAll();
    m_document.newProject();
    setDocumentPath({});
    applyKeyframeSettings();
    m_imageCache->preloadAll(nullptr);
    return true;
}

bool CPanZoomApp::openProject(const std::string& path) {
    m_imageCache->unloadAll();
    if (!m_openProject(m_context, path)) {
        return false;
    }
    applyKeyframeSettings();
    m_imageCache->preloadAll(nullptr);
    return true;
}

void CPanZoomApp::setMemorySettings(const MemorySettings& settings) {
    m_memory = settings;
    m_memory.targetMemUsage =
        std::clamp(m_memory.targetMemUsage, MemorySettings::kMinTarget,
                   static_cast<double>(MemorySettings::maximumTarget(m_physicalMegabytes)));
    m_memory.srcMaxMemSize = std::clamp(m_memory.srcMaxMemSize, MemorySettings::kMinSourceLimit,
                                        MemorySettings::kMaxSourceLimit);
    applyMemorySettings();
}

void CPanZoomApp::applyMemorySettings() {
    applyImageMemory(m_context, m_memory.imageMemory());
    m_imageCache->setBudget(m_memory.cacheBudget());
}

bool CPanZoomApp::loadPreferences(std::string_view section) {
    StoreKeyPtr settings = m_registry.openUserKey(section, false);
    if (!settings) {
        // The section exists from the first run on; make it, then read it back.
        m_registry.openUserKey(section, true);
        m_registry.flushUser();
        settings = m_registry.openUserKey(section, false);
    }
    if (!settings) {
        settings = NullKey::create();
    }
    m_preferences.load(*settings);
    m_preferencesLoaded = true;
    return true;
}

bool CPanZoomApp::savePreferences(std::string_view section) {
    StoreKeyPtr settings = m_registry.openUserKey(section, true);
    if (!settings) {
        return false;
    }
    m_preferences.save(*settings);
    return m_registry.flushUser();
}

bool CPanZoomApp::restoreDefaultSettings(const Question& ask) {
    if (!ask || !ask(msg::kRestoreDefaultsQuestion)) {
        return false;
    }
    m_preferences.restoreDefaults();
    return true;
}

void CPanZoomApp::exchangePreferences(StoreKey& settings, bool save) {
    if (save) {
        m_settings.save(settings);
        m_memory.save(settings);
        return;
    }
    m_memory.load(settings, m_physicalMegabytes);
    applyMemorySettings();
    AppSettings loaded = m_settings;
    loaded.load(settings);
    const TickTime duration = loaded.displayFrameDuration;
    const int type = loaded.timecodeType;
    loaded.displayFrameDuration = m_settings.displayFrameDuration;
    loaded.timecodeType = m_settings.timecodeType;
    m_settings = loaded;
    setTimeDisplay(duration, type);
    applyKeyframeSettings();
}

std::int32_t CPanZoomApp::onNotification(std::uint32_t code, ChangeArgument) {
    if (code == kChangeProjectReplaced) {
        setEditMode(kEditProject);
    } else if (code == kChangeCurrentScene) {
        setEditMode(m_context.project().currentSceneId() >= 0 ? kEditScene : kEditProject);
        // New keys of whatever is edited now follow the preference.
        m_context.project().current().setDefaultInterpolationMode(
            static_cast<InterpolationMode>(m_settings.defaultInterpolation));
    }
    return 0;
}

void CPanZoomApp::showUndoNames(const std::optional<std::string>& undo,
                                const std::optional<std::string>& redo) {
    m_canUndo = undo.has_value();
    m_canRedo = redo.has_value();
    m_undoText = pm::undoMenuText(false, undo);
    m_redoText = pm::undoMenuText(true, redo);
}

void CPanZoomApp::setDocumentPath(const std::string& path) {
    m_documentHooks.setDocumentPath(path);
    m_documentPath = path;
}

std::int32_t CPanZoomApp::searchForMissingFile(std::string& path) {
    return m_documentHooks.searchForMissingFile(path);
}

}  // namespace pm
