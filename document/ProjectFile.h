#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/StoreKeyPtr.h"

namespace pm {

class MemoryStorage;
class ProgressReporter;
class ProjectContext;
class Scene;
class SoundTrack;
class StoreKey;

namespace detail {
class EmbeddedSource;
struct NestedProjects;
struct ProjectFileParts;
}  // namespace detail

// Project files (".mzp"): one key/value store holding the scenes with their motion, pictures and
// timing, the markers, the project settings and the sound. Opening and saving run on the
// user-interface thread in one change batch and report failures into the context's error record.
//
// After a load or a save the file stays open, so that pictures embedded in it are read only when
// they are needed. A save goes to a temporary file that replaces the project file only when it
// is complete, so a failed save leaves the old file as it was.
class ProjectFile {
public:
    struct Options {
        // The "BmpInPzp" preference: embed pictures and the sound in the file.
        bool embed = true;
        // Free megabytes at a folder; statvfs unless replaced (tests).
        std::function<std::optional<std::int64_t>(const std::filesystem::path&)> freeMegabytes;
    };

    // A scene whose picture could not be read at the last load: it shows the built-in picture.
    struct PictureProblem {
        int scene = 0;  // counted from 1, in the storyboard's order
        std::string picture;
        std::string reason;
    };

    ProjectFile(ProjectContext& context, SoundTrack& sound);
    ~ProjectFile();
    ProjectFile(const ProjectFile&) = delete;
    ProjectFile& operator=(const ProjectFile&) = delete;

    const Options& options() const { return m_options; }
    void setOptions(Options options);

    // A path with no file behind it gives a new, empty project and succeeds.
    // `replaced` tells whether the open project was given up, which a failure can leave undone.
    bool load(const std::filesystem::path& path, ProgressReporter* progress = nullptr,
              bool* replaced = nullptr);
    bool save(const std::filesystem::path& path, ProgressReporter* progress = nullptr);
    // Lets go of the file kept open and of its meta data (a new project).
    void close();

    const std::vector<PictureProblem>& pictureProblems() const { return m_pictureProblems; }

    // The file kept open; empty when none.
    const std::filesystem::path& path() const { return m_path; }
    // The file's "MetaData" node, kept in memory and written back on save.
    StoreKeyPtr metaData() const;

    // Undo steps keep parts of the project in memory stores, in this format: a scene node
    // without picture data or thumbnail (the picture is named by its path, or by its node in the
    // file kept open); the project's settings with the start times, which carry the scenes' ids;
    // the markers; the sound settings without the sound's bytes, which the caller keeps. Reading
    // puts them back into the project as it stands and never asks the user anything.
    enum class Part { Timing, Markers, Sound };
    bool writeSnapshot(StoreKey& root, Part part);
    void readSnapshot(StoreKey& root, Part part,
                      std::shared_ptr<const std::vector<std::uint8_t>> soundBytes = nullptr);
    bool writeSceneSnapshot(StoreKey& node, Scene& scene);
    // `pictureBytes`: the picture file's bytes when the snapshot's picture lives in memory.
    bool readSceneSnapshot(StoreKey& node, Scene& scene, ProgressReporter* progress = nullptr,
                           std::shared_ptr<const std::vector<std::uint8_t>> pictureBytes = nullptr);
    // The picture file embedded in the file kept open for the scene node loaded as `keyname`;
    // null when there is none.
    std::shared_ptr<const std::vector<std::uint8_t>> embeddedPictureBytes(
        const std::string& keyname) const;

private:
    detail::ProjectFileParts parts();

    ProjectContext& m_context;
    SoundTrack& m_sound;
    Options m_options;
    std::filesystem::path m_path;
    std::shared_ptr<detail::EmbeddedSource> m_source;
    std::unique_ptr<MemoryStorage> m_metaData;
    std::unique_ptr<detail::NestedProjects> m_nested;
    std::vector<PictureProblem> m_pictureProblems;
};

}  // namespace pm
