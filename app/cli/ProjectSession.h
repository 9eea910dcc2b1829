#pragma once

#include <memory>
#include <string>

namespace pm {
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
    bool save(const std::string& path);
    bool setSound(const std::string& path);

    ProjectContext& context();
    // Null when the project has no sound.
    SoundTrack* sound();
    // The name a title bar would show: the file name without its extension.
    std::string title() const;
    // What went wrong last, naming the file.
    std::string errorText() const;

    // Copies the "Data" of the preset called `name` from the exporter's preset file
    // ({CFG}/Settings/<presetFile>.EPF) into `into`.
    bool loadPreset(const std::string& presetFile, const std::string& name, StoreKey& into);

private:
    std::unique_ptr<ProjectDocument> m_document;
    std::string m_path;
    std::string m_error;
};

}  // namespace pm::cli
