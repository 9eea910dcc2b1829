#include "document/detail/ProjectSaver.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "audio/SoundTrack.h"
#include "core/ErrorInfo.h"
#include "core/MessageIds.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "document/MotionFormat.h"
#include "document/detail/EmbeddedSource.h"
#include "document/detail/StoreReading.h"
#include "render/ImageDecoder.h"
#include "render/LevelAccess.h"
#include "render/SceneImage.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm::detail {

namespace {

constexpr std::int64_t kSceneOverhead = 262'400;
constexpr std::int32_t kSceneImageChanged = 1;
constexpr std::int32_t kSceneKeysChanged = 2;
constexpr std::int32_t kSceneLengthChanged = 4;

// A file's bytes written into `node` as the binary value `name` piece by piece, with its size
// as `sizeName`: a large picture or sound is never held whole in memory. False when the file
// cannot be read; `written` tells whether the store refused instead.
bool embedFile(StoreKey& node, const char* name, const char* sizeName, const std::string& path,
               bool& written) {
    written = false;
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!in || ec || size > static_cast<std::uintmax_t>(INT32_MAX)) {
        return false;
    }
    bool readFailed = false;
    written = node.setBinaryFrom(name, size, [&](void* buffer, std::size_t n) {
        readFailed = !in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
        return !readFailed;
    }) != 0;
    if (readFailed) {
        return false;
    }
    written = written && node.setInt(sizeName, static_cast<std::int32_t>(size));
    return true;
}

// The first bytes of a file, enough to tell its format.
std::vector<std::uint8_t> fileHead(const std::string& path) {
    std::vector<std::uint8_t> head(65536);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(in ? head.size()
                   : static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return head;
}

std::string withoutBrackets(const std::string& name) {
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        return name.substr(1, name.size() - 2);
    }
    return name;
}

std::string leafOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Rows of 32-bit pixels without padding, as the file keeps them.
std::vector<std::uint8_t> packRows(const ImageBuffer& image) {
    const std::size_t row = std::size_t{4} * image.width;
    std::vector<std::uint8_t> bytes(row * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::memcpy(bytes.data() + y * row, image.row(y), row);
    }
    return bytes;
}

bool isBgra(const ImageBuffer& image) {
    return image.pixels != nullptr && image.format == PixelFormat::Bgra32 && image.width > 0 &&
           image.height > 0;
}

}  // namespace

ProjectSaver::ProjectSaver(ProjectFileParts& parts, std::filesystem::path path,
                           ProgressReporter* progress, Mode mode)
    : m_parts(parts),
      m_path(std::move(path)),
      m_progress(progress),
      m_mode(mode),
      m_embed(mode == Mode::File) {}

bool ProjectSaver::failSave(int code) {
    // A snapshot that cannot be written is simply missing from its step.
    return m_mode == Mode::Snapshot ||
           m_parts.context.errors().report(static_cast<std::uint32_t>(code)) != 0;
}

bool ProjectSaver::checkFreeSpace() {
    const Project& project = m_parts.context.project();
    std::int64_t total = 0;
    for (int i = 0; i < project.sceneCount(); ++i) {
        std::int64_t size = imageDataSize(*project.sceneAt(i));
        if (size < 0) {
            m_parts.context.errors().report(msg::kPartsNotSaved);
            size = 0;
        }
        total += size + kSceneOverhead;
    }
    std::int64_t soundMegabytes = 0;
    const SoundTrack& sound = m_parts.sound;
    if (sound.isPresent()) {
        if (auto bytes = sound.embeddedBytes()) {
            soundMegabytes = static_cast<std::int64_t>(bytes->size()) / kMegabyte;
        } else {
            std::error_code ec;
            const auto size = std::filesystem::file_size(sound.fileName(), ec);
            soundMegabytes = ec ? 0 : static_cast<std::int64_t>(size) / kMegabyte;
        }
    }
    const std::int64_t need = 2 * (total / kMegabyte + soundMegabytes);
    const auto freeAt =
        m_parts.options.freeMegabytes ? m_parts.options.freeMegabytes : &freeMegabytesAt;
    const auto available = freeAt(m_path.parent_path());
    if (available && *available < need) {
        return m_parts.context.errors().report(
                   msg::kInsufficientSpace,
                   {textArg(static_cast<int>(std::min<std::int64_t>(need, INT32_MAX))),
                    textArg(static_cast<int>(std::min<std::int64_t>(*available, INT32_MAX)))}) != 0;
    }
    return true;
}

bool ProjectSaver::run() {
    Project& project = m_parts.context.project();
    if (!checkFreeSpace()) {
        return false;
    }
    m_embed = m_parts.options.embed;
    for (int i = 0; i < project.sceneCount(); ++i) {
        // A picture that came embedded has no file of its own to point to.
        if (const SceneImage* image = sceneImageOf(*project.sceneAt(i))) {
            if (image->heldPicture() || image->memoryBytes() || image->sourcePixels().pixels) {
                m_embed = true;
            }
        }
    }

    std::filesystem::path temporary = m_path;
    temporary += "tmp";
    const int current = project.currentSceneId();
    project.selectScene(-1);
    bool ok = false;
    bool closed = false;
    {
        FileStorage out;
        if (out.open(temporary, FileStorage::kCreateNew)) {
            {
                StoreKeyPtr root = out.root();
                ok = root && write(*root);
            }
            closed = out.close();
        }
    }
    std::error_code ec;
    if (ok && !closed) {
        failSave();
    }
    if (ok && closed) {
        std::filesystem::rename(temporary, m_path, ec);
        if (ec) {
            failSave();
        }
    }
    const bool saved = ok && closed && !ec;
    if (!saved) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    } else {
        adoptSavedFile();
    }
    project.selectScene(current);
    return saved;
}

void ProjectSaver::adoptSavedFile() {
    if (!m_parts.source) {
        m_parts.source = std::make_shared<EmbeddedSource>();
    }
    // Pictures still read from the file loaded before now find their data in the new one.
    if (m_parts.source->attach(m_path)) {
        m_parts.source->remap(m_names);
    }
}

bool ProjectSaver::write(StoreKey& root) {
    const Project& project = m_parts.context.project();
    if (!writeMarkers(root) || !saveGroups(root, m_parts.context.tables())) {
        return failSave();
    }
    if (!root.setString(key::kFileType, key::kFileTypeValue) ||
        !root.setInt(key::kVersion, key::kVersionValue) ||
        !root.setString(key::kProjectType, key::kProjectTypeMulti) ||
        !root.setDouble(key::kVAspRatio, project.vAspRatio()) ||
        !root.setInt(key::kAssumedWidth, project.assumedWidth()) ||
        !root.setInt(key::kSceneCount, project.sceneCount())) {
        return failSave();
    }
    for (int i = 0; i < project.sceneCount(); ++i) {
        if (!writeScene(root, i)) {
            return false;
        }
        if (m_progress != nullptr &&
            !m_progress->setFraction(100.0 * (i + 1) / project.sceneCount())) {
            return false;
        }
    }
    if (!writeTiming(root)) {
        return failSave();
    }
    if (!writeSound(root)) {
        return failSave();
    }
    StoreKeyPtr meta = root.createChild(key::kMetaData);
    StoreKeyPtr kept = m_parts.metaData.root();
    if (!meta || !kept || !copyTree(*meta, *kept, UINT64_MAX)) {
        return failSave();
    }
    return true;
}

bool ProjectSaver::writeMarkers(StoreKey& root) {
    StoreKeyPtr node = root.createChild(key::kMarkers);
    if (!node) {
        return false;
    }
    const auto& markers = m_parts.context.markers().all();
    if (!node->setInt(key::kMarkerCount, static_cast<std::int32_t>(markers.size()))) {
        return false;
    }
    for (std::size_t i = 0; i < markers.size(); ++i) {
        StoreKeyPtr child = node->createChild(key::kMarkerPrefix + std::to_string(i));
        if (!child || !child->setInt(key::kMarkerNumber, markers[i].number) ||
            !child->setInt64(key::kMarkerTime, markers[i].time)) {
            return false;
        }
    }
    return true;
}

bool ProjectSaver::writeTiming(StoreKey& root) {
    const Project& project = m_parts.context.project();
    const Project::Colour colour = project.backgroundColour();
    constexpr double kByte = 1.0 / 255.0;
    return root.setDouble(key::kVAspRatio, project.vAspRatio()) &&
           root.setInt(key::kAssumedWidth, project.assumedWidth()) &&
           root.setDouble(key::kBackgroundR, colour.r * kByte) &&
           root.setDouble(key::kBackgroundG, colour.g * kByte) &&
           root.setDouble(key::kBackgroundB, colour.b * kByte) && writeStartTimes(root);
}

bool ProjectSaver::writeStartTimes(StoreKey& root) {
    StoreKeyPtr node = root.createChild(key::kStartTimes);
    if (!node) {
        return false;
    }
    const Project& project = m_parts.context.project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        StoreKeyPtr child = node->createChild(key::kStartTime + std::to_string(i));
        if (!child || !child->setInt64(key::kStartTime, project.startAt(i))) {
            return false;
        }
        // Scenes come and go between undo steps: their times go back by id, not by place.
        if (m_mode == Mode::Snapshot && !child->setInt(key::kStartTimeId, project.idAt(i))) {
            return false;
        }
    }
    return true;
}

bool ProjectSaver::writeScene(StoreKey& root, int index) {
    const Project& project = m_parts.context.project();
    Scene& scene = *project.sceneAt(index);
    m_nodeName = sceneNodeName(index);
    StoreKeyPtr node = root.createChild(m_nodeName);
    if (!node) {
        return failSave();
    }
    if (auto nested = m_parts.nested.nodes.find(scene.id()); nested != m_parts.nested.nodes.end()) {
        StoreKeyPtr kept = nested->second->root();
        return (kept && copyTree(*node, *kept, UINT64_MAX)) || failSave();
    }
    return writeSceneNode(*node, scene);
}

bool ProjectSaver::writeSceneNode(StoreKey& nodeKey, Scene& scene) {
    StoreKey* node = &nodeKey;
    if (!node->setString(key::kFileType, key::kFileTypeValue)) {
        return failSave();
    }
    const SceneImage* image = sceneImageOf(scene);
    if (image != nullptr) {
        const ImagePrepSettings& prep = image->prepSettings();
        StoreKeyPtr prepNode = node->createChild(key::kImagePrep);
        if (!prepNode || !prepNode->setDouble(key::kGamma, prep.gamma()) ||
            !prepNode->setDouble(key::kContrast, prep.contrast()) ||
            !prepNode->setDouble(key::kBrightness, prep.brightness()) ||
            !prepNode->setInt(key::kAutoLevels, prep.autoLevels() ? 1 : 0)) {
            return failSave();
        }
    }
    StoreKeyPtr settings = node->createChild(key::kRenderSettings);
    if (!settings) {
        return failSave(msg::kCouldNotLoadProject);
    }
    if (!saveMotion(*node, scene)) {
        return failSave();
    }
    std::int32_t changes = 0;
    changes |= scene.picture().modified() ? kSceneImageChanged : 0;
    changes |= scene.modified() ? kSceneKeysChanged : 0;
    changes |= scene.lengthModified() ? kSceneLengthChanged : 0;
    const bool hasAlpha = image != nullptr && image->hasAlpha();
    if (!node->setString(key::kFileType, key::kFileTypeValue) ||
        !settings->setInt(key::kHasAlpha, hasAlpha ? 1 : 0) ||
        !node->setInt(key::kHistChanges, changes) ||
        !settings->setInt64(key::kLength, scene.length())) {
        return failSave();
    }
    if (!m_embed) {
        std::string keyname;
        if (image != nullptr) {
            if (const auto* held =
                    dynamic_cast<const EmbeddedPicture*>(image->heldPicture().get())) {
                keyname = held->keyname();
            }
        }
        if (!settings->setString(key::kKeyname, keyname)) {
            return failSave();
        }
    }
    if (!writeImage(*settings, scene) || !settings->setInt(key::kProjectId, scene.id())) {
        return failSave();
    }
    return true;
}

bool ProjectSaver::writeImage(StoreKey& settings, Scene& scene) {
    ScenePicture& picture = scene.picture();
    auto* image = dynamic_cast<SceneImage*>(&picture);
    std::shared_ptr<const HeldPicture> held = image ? image->heldPicture() : nullptr;
    std::shared_ptr<const std::vector<std::uint8_t>> memory =
        image ? image->memoryBytes() : nullptr;
    const ImageBuffer sourcePixels = image ? image->sourcePixels() : ImageBuffer{};
    const bool isDefault = picture.isDefault();
    const bool isFile = !isDefault && !held && !memory && sourcePixels.pixels == nullptr;
    const std::string path = picture.path();
    const std::string display =
        isDefault ? std::string() : withoutBrackets(image ? image->displayName() : leafOf(path));
    const int width = image ? image->decodedWidth() : picture.width();
    const int height = image ? image->decodedHeight() : picture.height();

    bool ok = settings.setString(key::kDisplayName, display) &&
              settings.setInt(key::kWidth, width) && settings.setInt(key::kHeight, height);
    if (image != nullptr && m_mode == Mode::File) {
        const ImageBuffer proxy = image->proxy();
        if (isBgra(proxy)) {
            const auto bytes = packRows(proxy);
            ok = ok && settings.setInt(key::kThumbWidth, static_cast<std::int32_t>(proxy.width)) &&
                 settings.setInt(key::kThumbHeight, static_cast<std::int32_t>(proxy.height)) &&
                 settings.setBinary(key::kThumbData, bytes.data(), bytes.size());
        }
    }
    if (isFile && m_mode == Mode::File) {
        if (const auto time = modificationTime(path)) {
            ok = ok && settings.setInt64(key::kModifiedTime, *time);
        }
    }
    if (!ok) {
        return false;
    }
    if (isDefault) {
        return settings.setString(key::kImageName, {});
    }
    if (!m_embed) {
        return settings.setString(key::kImageName, path);
    }

    // Form 1, the picture file itself: from its file, from memory, or copied from the node of
    // the file last loaded that held it.
    std::shared_ptr<const std::vector<std::uint8_t>> bytes = memory;
    const auto* embedded = dynamic_cast<const EmbeddedPicture*>(held.get());
    if (isFile) {
        const std::vector<std::uint8_t> head = fileHead(path);
        const int format = ImageDecoder::formatCode(head.data(), head.size(), display);
        bool written = false;
        if (settings.setString(key::kImageName, {}) && settings.setInt(key::kImageFormat, format) &&
            embedFile(settings, key::kOriginalData, key::kOriginalSize, path, written)) {
            return written;
        }
        m_parts.context.errors().report(msg::kPartsNotSaved);
    } else if (embedded != nullptr) {
        bytes = embedded->source()->originalBytes(embedded->keyname());
        m_names[embedded->keyname()] = m_nodeName;
    }
    if (bytes && bytes->size() <= static_cast<std::size_t>(INT32_MAX)) {
        const int format = ImageDecoder::formatCode(bytes->data(), bytes->size(), display);
        return settings.setString(key::kImageName, {}) &&
               settings.setInt(key::kImageFormat, format) &&
               settings.setBinary(key::kOriginalData, bytes->data(), bytes->size()) &&
               settings.setInt(key::kOriginalSize, static_cast<std::int32_t>(bytes->size()));
    }

    // Form 2, the decoded pixels.
    ImageBuffer pixels = sourcePixels;
    std::optional<LevelAccess> full;
    if (!isBgra(pixels) && image != nullptr) {
        full.emplace(*image, 0, PictureAccess::Full);
        if (full->given() == PictureAccess::Full) {
            pixels = full->image();
        }
    }
    bool written = false;
    if (isBgra(pixels)) {
        const auto data = packRows(pixels);
        written = settings.setString(key::kImageName, {}) &&
                  settings.setInt(key::kWidth, static_cast<std::int32_t>(pixels.width)) &&
                  settings.setInt(key::kHeight, static_cast<std::int32_t>(pixels.height)) &&
                  settings.setBinary(key::kPixelData, data.data(), data.size());
    } else {
        // Nothing of the picture can be kept: at least its path is.
        m_parts.context.errors().report(msg::kPartsNotSaved);
        written = settings.setString(key::kImageName, isFile ? path : std::string());
    }
    return written;
}

bool ProjectSaver::writeSound(StoreKey& root) {
    StoreKeyPtr node = root.createChild(key::kSound);
    const SoundTrack& sound = m_parts.sound;
    if (!node || !node->setInt64(key::kSoundIn, sound.inPoint()) ||
        !node->setInt64(key::kSoundOut, sound.outPoint()) ||
        !node->setInt64(key::kSoundFadeIn, sound.fadeIn()) ||
        !node->setInt64(key::kSoundFadeOut, sound.fadeOut())) {
        return false;
    }
    if (!sound.isPresent()) {
        return node->setString(key::kSoundFile, {});
    }
    // The file's own name, also for an embedded sound: its bracketed display name would gain
    // another pair of brackets at every load.
    if (!node->setString(key::kSoundFile, sound.fileName())) {
        return false;
    }
    if (m_mode == Mode::Snapshot || (!m_embed && !sound.isEmbedded())) {
        return true;
    }
    std::shared_ptr<const std::vector<std::uint8_t>> bytes = sound.embeddedBytes();
    if (!bytes) {
        bool written = false;
        if (embedFile(*node, key::kSoundData, key::kSoundDataSize, sound.fileName(), written)) {
            return written;
        }
    }
    if (!bytes || bytes->size() > static_cast<std::size_t>(INT32_MAX)) {
        m_parts.context.errors().report(msg::kPartsNotSaved);
        return true;
    }
    return node->setBinary(key::kSoundData, bytes->data(), bytes->size()) &&
           node->setInt(key::kSoundDataSize, static_cast<std::int32_t>(bytes->size()));
}

}  // namespace pm::detail
