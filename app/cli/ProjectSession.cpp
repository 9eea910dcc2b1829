#include "app/cli/ProjectSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/AppIdentity.h"
#include "app/AppRegistry.h"
#include "app/MemorySettings.h"
#include "app/SystemFolders.h"
#include "audio/SoundTrack.h"
#include "core/ProjectContext.h"
#include "core/ScenePicture.h"
#include "document/ProjectDocument.h"
#include "render/ImageCache.h"
#include "render/ProjectCacheOwner.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "store/FileStorage.h"
#include "store/NullKey.h"
#include "store/StoreKey.h"

namespace pm::cli {

namespace {

// {CFG}: the program's settings folder.
std::filesystem::path configFolder() {
    return SystemFolders::configFolder().value_or("/tmp/Korvane/Pictomove");
}

}  // namespace

ProjectSession::ProjectSession() : m_document(std::make_unique<ProjectDocument>()) {
    // The picture limit of the "Config" settings, as the editor applies it: off unless the user
    // turned it on, so that pictures are drawn at their full resolution.
    MemorySettings memory = MemorySettings::defaults(MemorySettings::physicalMegabytes());
    const AppRegistry registry;
    StoreKeyPtr settings = registry.openUserKey(kSettingsSection, false);
    if (!settings) {
        settings = NullKey::create();
    }
    memory.load(*settings, MemorySettings::physicalMegabytes());
    applyImageMemory(context(), memory.imageMemory());
    m_cacheBudget = memory.cacheBudget();
}

ProjectSession::~ProjectSession() {
    if (m_cacheOwner) {
        m_cacheOwner->attach(nullptr);
    }
}

void ProjectSession::useImageCache() {
    if (m_cache) {
        return;
    }
    m_cacheOwner = std::make_unique<ProjectCacheOwner>(context());
    m_cache = std::make_unique<ImageCache>(*m_cacheOwner);
    m_cache->setBudget(m_cacheBudget);
    // Nothing is shown: there is no scene to prepare ahead of.
    m_cache->setPrefetchEnabled(false);
    m_cacheOwner->attach(m_cache.get());
}

void ProjectSession::setEmbed(bool embed) {
    ProjectFile::Options options = m_document->file().options();
    options.embed = embed;
    m_document->file().setOptions(options);
}

ProjectContext& ProjectSession::context() {
    return m_document->context();
}

SoundTrack* ProjectSession::sound() {
    SoundTrack& sound = m_document->sound();
    return sound.isPresent() ? &sound : nullptr;
}

bool ProjectSession::open(const std::string& path) {
    m_path = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        m_error = path + ": no such file";
        return false;
    }
    context().errors().clear();
    if (!m_document->open(path)) {
        const std::string reason = context().errors().text();
        m_error = path + ": " + (reason.empty() ? "cannot open the project" : reason);
        return false;
    }
    return true;
}

void ProjectSession::newProject() {
    m_document->newProject();
    Project& project = context().project();
    project.setAddDefaultScene(false);
    project.reset();
    context().errors().clear();
}

bool ProjectSession::save(const std::string& path) {
    context().errors().clear();
    if (!m_document->save(path)) {
        const std::string reason = context().errors().text();
        m_error = path + ": " + (reason.empty() ? "cannot save the project" : reason);
        return false;
    }
    m_path = path;
    return true;
}

bool ProjectSession::setSound(const std::string& path) {
    const AudioStatus status = m_document->sound().open(path);
    if (!status.ok()) {
        m_error = status.text;
        return false;
    }
    return true;
}

std::vector<std::string> ProjectSession::inputFiles() {
    std::vector<std::string> files;
    if (!m_path.empty()) {
        files.push_back(m_path);
    }
    const Project& project = context().project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        const ScenePicture& picture = project.sceneAt(i)->picture();
        if (!picture.isDefault()) {
            files.push_back(picture.path());
        }
    }
    if (SoundTrack* track = sound(); track && !track->isEmbedded()) {
        files.push_back(track->fileName());
    }
    return files;
}

bool ProjectSession::reportPictureProblems() const {
    const auto& problems = m_document->file().pictureProblems();
    for (const ProjectFile::PictureProblem& problem : problems) {
        std::string reason = problem.reason;
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        std::fprintf(stderr,
                     "pictomove: warning: scene %d: %s cannot be read (%s); the scene shows the "
                     "built-in picture\n",
                     problem.scene, problem.picture.c_str(), reason.c_str());
    }
    return problems.empty();
}

bool ProjectSession::reportLateFailures() const {
    const auto& known = m_document->file().pictureProblems();
    const Project& project = m_document->context().project();
    bool none = true;
    for (int i = 0; i < project.sceneCount(); ++i) {
        const auto* image = dynamic_cast<const SceneImage*>(&project.sceneAt(i)->picture());
        const bool reported = std::any_of(known.begin(), known.end(),
                                          [i](const auto& p) { return p.scene == i + 1; });
        if (image != nullptr && image->lastLoadFailed() && !reported) {
            std::fprintf(stderr,
                         "pictomove: warning: scene %d: %s could not be decoded when it was "
                         "drawn; its frames show the preview picture instead\n",
                         i + 1, image->path().c_str());
            none = false;
        }
    }
    return none;
}

std::string ProjectSession::title() const {
    return std::filesystem::path(m_path).stem().string();
}

std::string ProjectSession::errorText() const {
    return m_error;
}

bool ProjectSession::loadPreset(const std::string& presetFile, const std::string& name,
                                StoreKey& into) {
    bool copied = false;
    const bool found = forEachPreset(presetFile, [&](StoreKey& preset) {
        if (preset.readString("Name") != name) {
            return true;
        }
        StoreKeyPtr data = preset.openChild("Data");
        copied = data && into.copyContent(*data) != 0;
        return false;
    });
    return found && copied;
}

}  // namespace pm::cli

namespace pm::cli {

bool ProjectSession::forEachPreset(const std::string& presetFile,
                                   const std::function<bool(StoreKey& preset)>& visit) const {
    FileStorage presets;
    if (!presets.open(configFolder() / "Settings" / (presetFile + ".EPF"), 0)) {
        return false;
    }
    StoreKeyPtr root = presets.root();
    char child[300];
    for (int i = 0; root && root->childName(i, child, sizeof child); ++i) {
        if (StoreKeyPtr preset = root->openChild(child); preset && !visit(*preset)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> ProjectSession::presetNames(const std::string& presetFile) const {
    std::vector<std::string> names;
    forEachPreset(presetFile, [&](StoreKey& preset) {
        names.push_back(preset.readString("Name"));
        return true;
    });
    return names;
}

}  // namespace pm::cli
