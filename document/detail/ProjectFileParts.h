#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/MessageIds.h"
#include "document/ProjectFile.h"
#include "store/MemoryStorage.h"

namespace pm {

class Scene;
class SceneImage;

namespace detail {

class EmbeddedSource;

// Key names of project files.
namespace key {
inline constexpr const char* kFileType = "FileType";
inline constexpr const char* kFileTypeValue = "Rev&Udud";
inline constexpr const char* kVersion = "Version";
inline constexpr int kVersionValue = 2;
inline constexpr const char* kProjectType = "ProjectType";
inline constexpr const char* kProjectTypeMulti = "ProjectMacro";
inline constexpr const char* kProjectTypeDefault = "DefaultString";
inline constexpr const char* kVAspRatio = "VAspRatio";
inline constexpr const char* kAssumedWidth = "AssumedWidth";
inline constexpr const char* kSceneCount = "NbOfProjects";
inline constexpr const char* kScenePrefix = "ProjectKey";
inline constexpr const char* kBackgroundR = "BkgR";
inline constexpr const char* kBackgroundG = "BkgG";
inline constexpr const char* kBackgroundB = "BkgB";
inline constexpr const char* kStartTimes = "StartTimes";
inline constexpr const char* kStartTime = "SceneStartTime";
inline constexpr const char* kStartTimeId = "StartTimeID";
inline constexpr const char* kMarkers = "MarkerSettings";
inline constexpr const char* kMarkerCount = "NbMarkers";
inline constexpr const char* kMarkerPrefix = "Marker_";
inline constexpr const char* kMarkerNumber = "MarkerNb";
inline constexpr const char* kMarkerTime = "MarkerTime";
inline constexpr const char* kSound = "PzSoundSettings";
inline constexpr const char* kMetaData = "MetaData";

inline constexpr const char* kHistChanges = "HistChanges";
inline constexpr const char* kImagePrep = "ImagePrep";
inline constexpr const char* kGamma = "Gamma";
inline constexpr const char* kContrast = "Contrast";
inline constexpr const char* kBrightness = "Brightness";
inline constexpr const char* kAutoLevels = "AutoLevels";
inline constexpr const char* kRenderSettings = "PzRenderSettings";
inline constexpr const char* kHasAlpha = "BmpHasAlpha";
inline constexpr const char* kLength = "Length";
inline constexpr const char* kKeyname = "Keyname";
inline constexpr const char* kFrameCount = "NbOfFrames";
inline constexpr const char* kRateNumerator = "FrameRateNumerator";
inline constexpr const char* kRateDenominator = "FrameRateDenominator";
inline constexpr const char* kProjectId = "ProjectID";
inline constexpr const char* kImageName = "ImageName";
inline constexpr const char* kImageNameDefault = "CouldNotLoadTheBitmap!";
inline constexpr const char* kDisplayName = "DispImageName";
inline constexpr const char* kThumbWidth = "ThumbnailWidth";
inline constexpr const char* kThumbHeight = "ThumbnailHeight";
inline constexpr const char* kThumbData = "ThumbnailData";
inline constexpr const char* kModifiedTime = "ImageLastModifTime";
inline constexpr const char* kWidth = "BmpWidth";
inline constexpr const char* kHeight = "BmpHeight";
inline constexpr const char* kImageFormat = "FreeImageFormat";
inline constexpr const char* kOriginalData = "OrigBmpData";
inline constexpr const char* kOriginalSize = "OrigBmpSize";
inline constexpr const char* kPixelData = "BmpData";

inline constexpr const char* kSoundFile = "SoundFilename";
inline constexpr const char* kSoundIn = "SoundInPt";
inline constexpr const char* kSoundOut = "SoundOutPt";
inline constexpr const char* kSoundFadeIn = "SoundFadeIn";
inline constexpr const char* kSoundFadeOut = "SoundFadeOut";
inline constexpr const char* kSoundData = "SoundData";
inline constexpr const char* kSoundDataSize = "SoundDataSize";
}  // namespace key

inline constexpr std::int64_t kMegabyte = 1'048'576;

// Scenes that stand for nested multi-scene projects found in a file: their nodes are kept as
// they came and written back in their place.
struct NestedProjects {
    std::map<int, std::unique_ptr<MemoryStorage>> nodes;
};

// What loading and saving work on.
struct ProjectFileParts {
    ProjectContext& context;
    SoundTrack& sound;
    const ProjectFile::Options& options;
    std::shared_ptr<EmbeddedSource>& source;
    MemoryStorage& metaData;
    NestedProjects& nested;
    std::vector<ProjectFile::PictureProblem>& pictureProblems;
};

// The scene's table index as a node name: "ProjectKey" and the index in decimal.
std::string sceneNodeName(int index);

// Bytes a scene's picture needs in the file and in memory: the embedded copy's size, 4 × width ×
// height without a file, else the picture file's size; -1 when that file cannot be opened.
std::int64_t imageDataSize(const Scene& scene);

// Free megabytes on the file system holding `folder`.
std::optional<std::int64_t> freeMegabytesAt(const std::filesystem::path& folder);

// A picture file's modification time as stored in projects; nothing when it cannot be read.
std::optional<std::int64_t> modificationTime(const std::string& path);

const SceneImage* sceneImageOf(const Scene& scene);
SceneImage* sceneImageOf(Scene& scene);

}  // namespace detail
}  // namespace pm
