#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pm {
class ImageCache;
class ProjectCacheOwner;
class ProjectContext;
class ProjectDocument;
class SoundTrack;
class StoreKey;
}  // namespace pm

namespace pm::cli {

// One project for the length of a command: opened from a file or made anew, with its sound, and
// the program's export presets.
class ProjectSession {
public:
    ProjectSession();
    ~ProjectSession();

    bool open(const std::string& path);
    // An empty project, without the default scene.
    void newProject();
    // Puts the project's full pictures under the picture cache, with the budget of the program's
    // memory settings ("Config"), as the editor has them: pictures beyond it are unloaded.
    void useImageCache();
    // Null until useImageCache().
    ImageCache* imageCache() { return m_cache.get(); }
    // The "BmpInPzp" preference for this project: false keeps only the pictures' and the sound's
    // paths in the file.
    void setEmbed(bool embed);
    bool save(const std::string& path);
    bool setSound(const std::string& path);

    ProjectContext& context();
    // Null when the project has no sound.
    SoundTrack* sound();
    // The name a title bar would show: the file name without its extension.
    std::string title() const;
    // What went wrong last, naming the file.
    std::string errorText() const;

    // The files the project reads: the project file, its scenes' picture files, its sound.
    std::vector<std::string> inputFiles();
    // Tells about every scene whose picture could not be read at open (it shows the built-in
    // picture) on standard error; false when there was one.
    bool reportPictureProblems() const;
    // After rendering: tells about every scene whose picture could not be decoded when its
    // pixels were needed (damaged since the project was opened, or an embedded copy that is);
    // false when there was one.
    bool reportLateFailures() const;

    // Copies the "Data" of the preset called `name` from the exporter's preset file
    // ({CFG}/Settings/<presetFile>.EPF) into `into`.
    bool loadPreset(const std::string& presetFile, const std::string& name, StoreKey& into);
    // The names of the presets saved in that file, in its order.
    std::vector<std::string> presetNames(const std::string& presetFile) const;

private:
    // Calls `visit` with each preset of the exporter's preset file in order until it answers
    // false; true when it did (a preset was taken).
    bool forEachPreset(const std::string& presetFile,
                       const std::function<bool(StoreKey& preset)>& visit) const;

    std::unique_ptr<ProjectDocument> m_document;
    // Declared after the document: they go first, the cache detached before the project goes.
    std::unique_ptr<ProjectCacheOwner> m_cacheOwner;
    std::unique_ptr<ImageCache> m_cache;
    int m_cacheBudget = 0;
    std::string m_path;
    std::string m_error;
};

}  // namespace pm::cli
