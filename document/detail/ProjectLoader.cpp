#include "document/detail/ProjectLoader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <utility>

#include "audio/SoundTrack.h"
#include "core/ErrorInfo.h"
#include "core/MessageIds.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/TextFormat.h"
#include "document/MotionFormat.h"
#include "document/detail/EmbeddedSource.h"
#include "document/detail/StoreReading.h"
#include "render/SceneImage.h"
#include "store/StoreKey.h"

namespace pm::detail {

namespace {

constexpr TickTime kDefaultSceneLength = 135'000'000;
constexpr TickTime kNewSceneLength = kTicksPerSecond;
// Starts beyond the longest possible project are nonsense; keeping them in this range keeps every
// sum of a start and a length far from overflowing.
constexpr TickTime kMaxStart = kMaxSceneLength * 200;
constexpr double kMaxAspectRatio = 100.0;
constexpr int kMaxAssumedWidth = 65536;
constexpr std::int64_t kFreeSpaceReserve = 100;
constexpr std::size_t kMaxMarkers = 100'000;
constexpr std::uint32_t kMaxThumbnailSide = SceneImage::kProxySide;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool isMultiScene(StoreKey& node) {
    return readText(node, key::kProjectType, key::kProjectTypeDefault) == key::kProjectTypeMulti &&
           node.getInt(key::kSceneCount, 0) != 0;
}

// The index of a child named `prefix` followed by a decimal number without padding.
std::optional<std::int64_t> indexAfter(const std::string& name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
        name.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (name[i] - '0');
    }
    if (std::to_string(value) != name.substr(prefix.size())) {
        return std::nullopt;
    }
    return value;
}

std::optional<ImageBuffer> readThumbnail(StoreKey& settings, std::uint64_t fileSize) {
    const std::int32_t w = settings.getInt(key::kThumbWidth, 0);
    const std::int32_t h = settings.getInt(key::kThumbHeight, 0);
    if (w <= 0 || h <= 0 || static_cast<std::uint32_t>(w) > kMaxThumbnailSide ||
        static_cast<std::uint32_t>(h) > kMaxThumbnailSide) {
        return std::nullopt;
    }
    const std::int64_t bytes = std::int64_t{4} * w * h;
    if (settings.valueSize(key::kThumbData) != bytes) {
        return std::nullopt;
    }
    auto data = readBlob(settings, key::kThumbData, fileSize);
    if (!data) {
        return std::nullopt;
    }
    ImageBuffer thumb;
    thumb.format = PixelFormat::Bgra32;
    thumb.width = static_cast<std::uint32_t>(w);
    thumb.height = static_cast<std::uint32_t>(h);
    thumb.pitch = 4 * w;
    thumb.bitsPerPixel = 32;
    thumb.storage = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[data->size()]);
    std::memcpy(thumb.storage.get(), data->data(), data->size());
    thumb.pixels = thumb.storage.get();
    return thumb;
}

ImageBuffer pixelsFrom(const std::vector<std::uint8_t>& data, std::uint32_t w, std::uint32_t h) {
    ImageBuffer image;
    image.format = PixelFormat::Bgra32;
    image.width = w;
    image.height = h;
    image.pitch = static_cast<std::int32_t>(4 * w);
    image.bitsPerPixel = 32;
    image.storage = std::shared_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[data.size()]);
    if (!image.storage) {
        return {};
    }
    std::memcpy(image.storage.get(), data.data(), data.size());
    image.pixels = image.storage.get();
    return image;
}

}  // namespace

ProjectLoader::ProjectLoader(ProjectFileParts& parts, std::filesystem::path path,
                             ProgressReporter* progress, Mode mode)
    : m_parts(parts), m_path(std::move(path)), m_progress(progress), m_mode(mode) {
    if (m_mode == Mode::Snapshot) {
        m_source = m_parts.source;
        m_fileSize = m_source ? m_source->fileSize() : 0;
        m_vAspRatio = m_parts.context.project().vAspRatio();
    }
}

bool ProjectLoader::fail(const std::string& why) {
    if (m_mode == Mode::Snapshot) {
        return false;
    }
    // The message names the file, so the user knows which one was refused, and says why.
    const std::string extra = why.empty() ? m_path.string() : m_path.string() + "\n" + why;
    return m_parts.context.errors().report(msg::kCouldNotLoadProject, {}, extra) != 0;
}

bool ProjectLoader::readScene(StoreKey& node, Scene& scene,
                              std::shared_ptr<const std::vector<std::uint8_t>> pictureBytes) {
    m_pictureBytes = std::move(pictureBytes);
    const bool ok = loadScene(node, scene, {});
    if (SceneImage* image = sceneImageOf(scene); image != nullptr && image->preparationPending()) {
        const RendererGate::EditGuard edit(scene.rendererGate());
        image->applyPreparation(m_progress, m_parts.context.errors());
    }
    Project& project = m_parts.context.project();
    project.updateMemoryEstimate(scene.id());
    return ok;
}

void ProjectLoader::readTiming(StoreKey& root) {
    Project& project = m_parts.context.project();
    const double ratio = readFinite(root, key::kVAspRatio, project.vAspRatio());
    if (ratio > 0.0 && ratio <= kMaxAspectRatio && ratio != project.vAspRatio()) {
        project.setVAspRatio(ratio);
    }
    const std::int32_t width = root.getInt(key::kAssumedWidth, project.assumedWidth());
    if (width > 0 && width <= kMaxAssumedWidth && width != project.assumedWidth()) {
        project.setAssumedWidth(width);
    }
    loadBackground(root);
    StoreKeyPtr node = root.openChild(key::kStartTimes);
    if (!node) {
        return;
    }
    for (const std::string& name : childNames(*node, Project::kMaxScenes * 2)) {
        StoreKeyPtr child = node->openChild(name);
        const int index = child ? project.indexOf(child->getInt(key::kStartTimeId, -1)) : -1;
        if (index < 0) {
            continue;
        }
        const TickTime start =
            std::clamp<TickTime>(child->getInt64(key::kStartTime, 0), 0, kMaxStart);
        if (start != project.startAt(index)) {
            project.setSceneStart(index, start, false);
        }
    }
}

void ProjectLoader::readMarkers(StoreKey& root) {
    m_parts.context.clearMarkers();
    loadMarkers(root);
}

void ProjectLoader::readSound(StoreKey& root,
                              std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    StoreKeyPtr node = root.openChild(key::kSound);
    if (!node) {
        return;
    }
    SoundTrack& sound = m_parts.sound;
    const std::string name = readText(*node, key::kSoundFile, {});
    if (name.empty()) {
        if (sound.isPresent()) {
            sound.clear();
        }
        return;
    }
    const bool same = sound.isPresent() && sound.fileName() == name &&
                      (bytes ? sound.embeddedBytes() == bytes : !sound.isEmbedded());
    if (!same) {
        const bool opened =
            bytes ? sound.openEmbedded(name, std::move(bytes)).ok() : sound.open(name).ok();
        if (!opened) {
            sound.clear();
            return;
        }
    }
    sound.setTimes(node->getInt64(key::kSoundIn, 0), node->getInt64(key::kSoundOut, 0),
                   node->getInt64(key::kSoundFadeIn, 0), node->getInt64(key::kSoundFadeOut, 0));
}

bool ProjectLoader::run() {
    ProjectContext& context = m_parts.context;
    Project& project = context.project();
    std::error_code ec;
    if (!std::filesystem::exists(m_path, ec)) {
        m_replaced = true;
        project.selectScene(-1);
        context.clearMarkers();
        project.reset();
        m_parts.nested.nodes.clear();
        if (m_parts.source) {
            m_parts.source->detach();
        }
        m_parts.source.reset();
        m_parts.metaData.open();
        return true;
    }

    m_parts.pictureProblems.clear();
    m_source = std::make_shared<EmbeddedSource>();
    if (std::string why; !m_source->attach(m_path, &why)) {
        return fail(why);
    }
    auto held = m_source->hold();
    m_fileSize = m_source->fileSize();
    StoreKeyPtr root = m_source->root();
    if (readText(*root, key::kFileType, {}) != key::kFileTypeValue) {
        return fail(std::string(key::kFileType) + " is not \"" + key::kFileTypeValue +
                    "\": the file holds no project");
    }
    if (isMultiScene(*root)) {
        project.selectScene(-1);
    }

    // From here on the old project is gone, and the new file is the source of its pictures.
    m_replaced = true;
    context.clearMarkers();
    project.reset();
    m_parts.nested.nodes.clear();
    if (m_parts.source) {
        m_parts.source->detach();
    }
    m_parts.source = m_source;

    context.beginRawEdit();
    loadMarkers(*root);
    bool ok = loadProject(*root);
    if (ok) {
        loadSound(*root);
    }
    context.endRawEdit();
    context.hooks().forgetSearchFolder();
    copyMetaData(*root);
    return ok;
}

void ProjectLoader::loadMarkers(StoreKey& root) {
    StoreKeyPtr node = root.openChild(key::kMarkers);
    if (!node) {
        return;
    }
    const std::int64_t count = node->getInt(key::kMarkerCount, 0);
    std::vector<std::pair<std::int64_t, std::string>> found;
    for (const std::string& name : childNames(*node, kMaxMarkers)) {
        const auto index = indexAfter(name, key::kMarkerPrefix);
        if (index && *index < count) {
            found.emplace_back(*index, name);
        }
    }
    std::sort(found.begin(), found.end());
    for (const auto& [index, name] : found) {
        StoreKeyPtr marker = node->openChild(name);
        if (!marker) {
            continue;
        }
        // A numbered marker whose number is already used is dropped by the list itself.
        m_parts.context.addMarker(-1, marker->getInt64(key::kMarkerTime, 0),
                                  marker->getInt(key::kMarkerNumber, 0));
    }
}

bool ProjectLoader::loadProject(StoreKey& root) {
    loadGroups(root, m_parts.context.tables());
    Project& project = m_parts.context.project();
    if (isMultiScene(root)) {
        return loadScenes(root);
    }
    // An older file whose root is its only scene.
    m_vAspRatio = project.vAspRatio();
    if (project.sceneCount() == 0 && project.addScene({}, 0, kNewSceneLength) < 0) {
        return false;
    }
    Scene* scene = project.sceneAt(0);
    m_where = "the scene";
    if (!loadScene(root, *scene, {})) {
        return false;
    }
    project.updateMemoryEstimate(scene->id());
    return checkFreeSpace();
}

bool ProjectLoader::loadScenes(StoreKey& root) {
    Project& project = m_parts.context.project();
    const std::int32_t count = root.getInt(key::kSceneCount, 0);
    m_vAspRatio = root.getDouble(key::kVAspRatio, 1.3333);
    if (count < 0 || count > Project::kMaxScenes) {
        return fail(std::string(key::kSceneCount) + " is " + std::to_string(count) +
                    ", not a number of scenes from 0 to " + std::to_string(Project::kMaxScenes));
    }
    if (!std::isfinite(m_vAspRatio) || !(m_vAspRatio > 0.0) || m_vAspRatio > kMaxAspectRatio) {
        return fail(std::string(key::kVAspRatio) + " is not a usable display aspect");
    }
    while (project.sceneCount() > 0) {
        project.deleteScene(0, false);
    }
    std::vector<int> ids;
    for (int i = 0; i < count; ++i) {
        const std::string name = sceneNodeName(i);
        StoreKeyPtr node = root.openChild(name);
        m_where = "scene " + std::to_string(i + 1) + " (" + name + ")";
        if (!node) {
            return fail(m_where + " is missing; " + key::kSceneCount + " is " +
                        std::to_string(count));
        }
        int id = -1;
        if (isMultiScene(*node)) {
            id = loadNested(*node);
            if (id < 0) {
                return false;
            }
        } else {
            id = project.addScene({}, 0, kNewSceneLength);
            if (id < 0 || !loadScene(*node, *project.sceneById(id), name)) {
                return false;
            }
        }
        ids.push_back(id);
        project.updateMemoryEstimate(id);
        if (m_progress != nullptr && !m_progress->setFraction(100.0 * (i + 1) / count)) {
            return false;
        }
    }
    if (!checkFreeSpace()) {
        return false;
    }
    loadStartTimes(root, ids);
    loadBackground(root);
    project.setVAspRatio(m_vAspRatio);
    const std::int32_t width = root.getInt(key::kAssumedWidth, 720);
    project.setAssumedWidth(width > 0 && width <= kMaxAssumedWidth ? width : 720);
    return true;
}

int ProjectLoader::loadNested(StoreKey& node) {
    // Nested projects come only from files; the scene that stands for one keeps its node as it
    // came, to be written back in its place, and spans the nested project's length.
    TickTime length = 0;
    const std::int32_t count = std::min(node.getInt(key::kSceneCount, 0), Project::kMaxScenes);
    StoreKeyPtr starts = node.openChild(key::kStartTimes);
    for (int i = 0; i < count; ++i) {
        StoreKeyPtr child = node.openChild(sceneNodeName(i));
        StoreKeyPtr settings = child ? child->openChild(key::kRenderSettings) : nullptr;
        if (!settings) {
            continue;
        }
        TickTime sceneLength = settings->getInt64(key::kLength, 0);
        if (sceneLength <= 0) {
            sceneLength = kDefaultSceneLength;
        }
        TickTime start = 0;
        if (starts) {
            if (StoreKeyPtr time = starts->openChild(key::kStartTime + std::to_string(i))) {
                start = time->getInt64(key::kStartTime, 0);
            }
        }
        start = std::clamp<TickTime>(start, 0, kMaxStart);
        sceneLength = std::min(sceneLength, kMaxSceneLength);
        length = std::max(length, start + sceneLength);
    }
    if (length <= 0) {
        length = kDefaultSceneLength;
    }
    auto copy = std::make_unique<MemoryStorage>();
    copy->open();
    StoreKeyPtr copyRoot = copy->root();
    copyTree(*copyRoot, node, m_fileSize);
    copyRoot.reset();
    Project& project = m_parts.context.project();
    const int id = project.addScene({}, 0, length);
    if (id >= 0) {
        m_parts.nested.nodes[id] = std::move(copy);
    }
    return id;
}

void ProjectLoader::loadPreparation(StoreKey& node, Scene& scene) {
    StoreKeyPtr prep = node.openChild(key::kImagePrep);
    SceneImage* image = sceneImageOf(scene);
    if (!prep || image == nullptr) {
        return;
    }
    ImagePrepSettings& settings = image->prepSettings();
    // Gamma 0 and 1 give the same curve; 1 is the value that means "no correction".
    double gamma = readFinite(*prep, key::kGamma, 1.0);
    if (!(gamma > 0.0) || gamma > 100.0) {
        gamma = 1.0;
    }
    settings.setGamma(static_cast<float>(gamma));
    settings.setContrast(
        static_cast<float>(std::clamp(readFinite(*prep, key::kContrast, 0.0), -100.0, 100.0)));
    settings.setBrightness(
        static_cast<float>(std::clamp(readFinite(*prep, key::kBrightness, 0.0), -100.0, 100.0)));
    settings.setAutoLevels(prep->getInt(key::kAutoLevels, 0) != 0);
}

bool ProjectLoader::loadScene(StoreKey& node, Scene& scene, const std::string& nodeName) {
    if (readText(node, key::kFileType, {}) != key::kFileTypeValue) {
        return fail(m_where + ": " + key::kFileType + " is not \"" + key::kFileTypeValue + "\"");
    }
    loadPreparation(node, scene);
    StoreKeyPtr settings = node.openChild(key::kRenderSettings);
    if (!settings) {
        return fail(m_where + ": " + key::kRenderSettings + " is missing");
    }
    if (std::string why; !loadMotion(node, scene, &why)) {
        return fail(m_where + ", " + why);
    }
    const bool hasAlpha = settings->getInt(key::kHasAlpha, 0) != 0;
    const std::string keyname =
        readText(*settings, key::kKeyname, {}, StoreKey::kMaxComponentLength + 1);
    TickTime length = settings->getInt64(key::kLength, 0);
    if (length == 0) {
        length = kDefaultSceneLength;
    }
    const std::int32_t frames = settings->getInt(key::kFrameCount, 0);
    const std::int32_t numerator = settings->getInt(key::kRateNumerator, 0);
    const std::int32_t denominator = settings->getInt(key::kRateDenominator, 0);
    if (frames != 0 && numerator != 0 && denominator != 0) {
        const double seconds = static_cast<double>(frames) * denominator / numerator;
        length = std::abs(seconds) < 1e9 ? secondsToTicks(seconds) : 0;
    }
    if (length <= 0) {
        return fail(m_where + ": " + key::kRenderSettings + "/" + key::kLength +
                    " is not a positive time");
    }
    if (!(m_vAspRatio != 0.0)) {
        return fail(std::string(key::kVAspRatio) + " is not a usable display aspect");
    }

    m_pictureError.clear();
    if (!loadImage(*settings, scene, nodeName, keyname, hasAlpha)) {
        // Kept for the command that opened the project, which tells the user.
        std::string name = readText(*settings, key::kImageName, key::kImageNameDefault);
        const std::string display = readText(*settings, key::kDisplayName, {});
        if (name.empty() && !display.empty()) {
            name = "[" + display + "]";  // held in the project file
        }
        // An empty name is the built-in picture, chosen on purpose.
        if (m_mode == Mode::File && !name.empty()) {
            std::string reason = m_pictureError;
            if (reason.empty()) {
                reason = m_parts.context.errors().text();
            }
            if (reason.empty()) {
                reason = "it could not be read";
            }
            const int index = m_parts.context.project().indexOf(scene.id());
            m_parts.pictureProblems.push_back({index + 1, name, reason});
        }
        // The scene shows the built-in picture; its motion loaded, so the load goes on quietly.
        RendererGate::EditGuard edit(scene.rendererGate());
        scene.picture().load({}, nullptr, m_parts.context.errors());
        m_parts.context.errors().clear();
    }
    Project& project = m_parts.context.project();
    project.setSceneLength(project.indexOf(scene.id()), length, false);
    return true;
}

bool ProjectLoader::loadImage(StoreKey& settings, Scene& scene, const std::string& nodeName,
                              const std::string& keyname, bool hasAlpha) {
    const std::string imageName = readText(settings, key::kImageName, key::kImageNameDefault);
    const std::string displayName = readText(settings, key::kDisplayName, {});
    RendererGate::EditGuard edit(scene.rendererGate());
    ScenePicture& picture = scene.picture();
    if (!picture.isDefault() && picture.width() > 0 &&
        equalsIgnoringCase(picture.path(), imageName)) {
        return true;
    }
    if (!keyname.empty()) {
        return loadEmbedded(settings, scene, keyname, displayName, hasAlpha);
    }
    if (m_mode == Mode::Snapshot) {
        if (m_pictureBytes) {
            SceneImage* image = sceneImageOf(scene);
            return image != nullptr && image->loadFromMemory(imageName, m_pictureBytes, m_progress,
                                                             m_parts.context.errors());
        }
        // The file was there when the step was taken; nobody is asked for it now. A bracketed
        // name is a picture the project held, which is gone.
        return !imageName.empty() && imageName.front() != '[' &&
               picture.load(imageName, m_progress, m_parts.context.errors());
    }
    SceneImage* image = sceneImageOf(scene);
    if (image != nullptr && !imageName.empty()) {
        const auto stored = settings.getInt64(key::kModifiedTime, 0);
        const auto actual = modificationTime(imageName);
        if (actual && *actual == stored) {
            const std::int32_t w = settings.getInt(key::kWidth, 0);
            const std::int32_t h = settings.getInt(key::kHeight, 0);
            if (auto thumb = readThumbnail(settings, m_fileSize);
                thumb && w > 0 && h > 0 &&
                image->adoptDeferred(imageName, nullptr, static_cast<std::uint32_t>(w),
                                     static_cast<std::uint32_t>(h), hasAlpha, *thumb)) {
                return true;
            }
        }
    }
    if (settings.getInt(key::kOriginalSize, 0) != 0 ||
        settings.valueType(key::kPixelData) == ValueType::Binary) {
        return loadEmbedded(settings, scene, nodeName, displayName, hasAlpha);
    }
    return locate(scene, imageName);
}

bool ProjectLoader::loadEmbedded(StoreKey& settings, Scene& scene, const std::string& keyname,
                                 const std::string& displayName, bool hasAlpha) {
    SceneImage* image = sceneImageOf(scene);
    ErrorInfo& errors = m_parts.context.errors();
    if (image == nullptr || !m_source) {
        return false;
    }
    auto held = std::make_shared<EmbeddedPicture>(m_source, keyname);
    const std::string name = "[" + displayName + "]";
    if (m_source->originalSize(keyname) > 0) {
        // The thumbnail stands in until the picture is needed; it is only trusted from the node
        // it was stored with.
        const std::int32_t w = settings.getInt(key::kWidth, 0);
        const std::int32_t h = settings.getInt(key::kHeight, 0);
        if (auto thumb = readThumbnail(settings, m_fileSize); thumb && w > 0 && h > 0) {
            if (image->adoptDeferred(name, held, static_cast<std::uint32_t>(w),
                                     static_cast<std::uint32_t>(h), hasAlpha, *thumb)) {
                return true;
            }
        }
        return image->loadHeld(name, held, m_progress, errors);
    }
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (auto data = m_source->pixels(keyname, &w, &h)) {
        const ImageBuffer pixels = pixelsFrom(*data, w, h);
        return pixels.pixels != nullptr &&
               image->loadFromPixels(name, pixels, hasAlpha, held, errors);
    }
    return errors.report(msg::kCouldNotLoadBitmap) != 0;
}

bool ProjectLoader::locate(Scene& scene, std::string path) {
    ErrorInfo& errors = m_parts.context.errors();
    HostHooks& hooks = m_parts.context.hooks();
    ScenePicture& picture = scene.picture();
    bool searched = false;
    bool found = false;
    while (!path.empty()) {
        if (picture.load(path, m_progress, errors)) {
            found = true;
            break;
        }
        if (!searched) {
            searched = true;
            std::string candidate = path;
            if (hooks.searchForMissingFile(candidate) != 0 && !candidate.empty() &&
                picture.load(candidate, m_progress, errors)) {
                found = true;
                break;
            }
        }
        std::string answer = path;
        hooks.askForMissingImage(path, answer);
        path = std::move(answer);
    }
    // The failed attempts leave no message behind, but the reason of the last is kept.
    if (!found) {
        m_pictureError = errors.text();
        if (m_pictureError.empty()) {
            m_pictureError = "no such file";
        }
    }
    errors.clear();
    return found;
}

bool ProjectLoader::checkFreeSpace() {
    const Project& project = m_parts.context.project();
    std::int64_t total = 0;
    std::set<std::filesystem::path> folders;
    for (int i = 0; i < project.sceneCount(); ++i) {
        const Scene& scene = *project.sceneAt(i);
        total += std::max<std::int64_t>(0, imageDataSize(scene));
        const std::string path = scene.picture().path();
        if (!path.empty() && path.front() != '[') {
            folders.insert(std::filesystem::path(path).parent_path());
        }
    }
    if (folders.empty()) {
        folders.insert(m_path.parent_path());
    }
    const std::int64_t need = total / kMegabyte + kFreeSpaceReserve;
    const auto freeAt =
        m_parts.options.freeMegabytes ? m_parts.options.freeMegabytes : &freeMegabytesAt;
    for (const auto& folder : folders) {
        const auto available = freeAt(folder);
        if (available && *available < need) {
            return m_parts.context.errors().report(
                       msg::kInsufficientSpace,
                       {textArg(static_cast<int>(std::min<std::int64_t>(need, INT32_MAX))),
                        textArg(
                            static_cast<int>(std::min<std::int64_t>(*available, INT32_MAX)))}) != 0;
        }
    }
    return true;
}

void ProjectLoader::loadStartTimes(StoreKey& root, const std::vector<int>& ids) {
    StoreKeyPtr node = root.openChild(key::kStartTimes);
    if (!node) {
        return;
    }
    Project& project = m_parts.context.project();
    // Each scene's start is found by its index in the name: in store order "SceneStartTime10"
    // comes before "SceneStartTime2".
    for (std::size_t i = 0; i < ids.size(); ++i) {
        StoreKeyPtr child = node->openChild(key::kStartTime + std::to_string(i));
        if (!child) {
            continue;
        }
        const TickTime start =
            std::clamp<TickTime>(child->getInt64(key::kStartTime, 0), 0, kMaxStart);
        project.setSceneStart(project.indexOf(ids[i]), start, false);
    }
}

void ProjectLoader::loadBackground(StoreKey& root) {
    // Bytes were written as byte / 255; rounding brings every one of them back, where cutting
    // the fraction off would lose one on some (33 among them).
    const auto channel = [&](const char* name) {
        const double value = readFinite(root, name, 0.0) * 255.0;
        return static_cast<std::uint8_t>(std::clamp(std::round(value), 0.0, 255.0));
    };
    Project& project = m_parts.context.project();
    Project::Colour colour = project.backgroundColour();
    colour.r = channel(key::kBackgroundR);
    colour.g = channel(key::kBackgroundG);
    colour.b = channel(key::kBackgroundB);
    project.setBackgroundColour(colour, project.backgroundColourKind());
}

void ProjectLoader::loadSound(StoreKey& root) {
    SoundTrack& sound = m_parts.sound;
    StoreKeyPtr node = root.openChild(key::kSound);
    if (!node) {
        sound.clear();
        return;
    }
    const std::string name = readText(*node, key::kSoundFile, {});
    bool opened = false;
    const std::int32_t declared = node->getInt(key::kSoundDataSize, 0);
    if (declared > 0 && node->valueSize(key::kSoundData) == declared) {
        if (auto bytes = readSharedBlob(*node, key::kSoundData, m_fileSize)) {
            opened = sound.openEmbedded(name, std::move(bytes)).ok();
        }
    }
    std::string path = name;
    while (!opened && !path.empty()) {
        if (sound.open(path).ok()) {
            opened = true;
            break;
        }
        std::string answer = path;
        m_parts.context.hooks().askForMissingSound(path, answer);
        path = std::move(answer);
    }
    if (opened) {
        sound.setTimes(node->getInt64(key::kSoundIn, 0), node->getInt64(key::kSoundOut, 0),
                       node->getInt64(key::kSoundFadeIn, 0), node->getInt64(key::kSoundFadeOut, 0));
    } else {
        sound.clear();
        // The project opens without its sound; the user is told which file was lost.
        if (!name.empty()) {
            m_parts.context.errors().report(msg::kCouldNotLoadSound, {textArg(name)});
        }
    }
}

void ProjectLoader::copyMetaData(StoreKey& root) {
    m_parts.metaData.open();
    StoreKeyPtr node = root.openChild(key::kMetaData);
    if (!node) {
        return;
    }
    StoreKeyPtr copy = m_parts.metaData.root();
    copyTree(*copy, *node, m_fileSize);
}

}  // namespace pm::detail
