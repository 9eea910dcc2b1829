#include "document/TemplateFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/SoundTrack.h"
#include "core/ChangeHub.h"
#include "core/ErrorInfo.h"
#include "core/KeyframeRandom.h"
#include "core/MessageIds.h"
#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "document/MotionFormat.h"
#include "document/ProjectFile.h"
#include "document/UndoHistory.h"
#include "document/detail/ProjectFileParts.h"
#include "render/PerfKit.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/TemplateIcon.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm::templates {

namespace {

namespace key = detail::key;

constexpr const char* kTemplate = "Template";
constexpr const char* kIsTemplate = "IsTemplate";
constexpr const char* kIconWidth = "TemplateIconWidth";
constexpr const char* kIconHeight = "TemplateIconHeight";
constexpr const char* kIconBits = "TemplateIconBits";
constexpr const char* kOrientation = "TemplateOrienation";  // sic: the files spell it so

// Opens a batch unless one is open already.
class BatchIfNone {
public:
    explicit BatchIfNone(ProjectContext& context) : m_context(context) {
        m_opened = context.batchDepth() == 0;
        if (m_opened) {
            context.beginBatch(true);
        }
    }
    ~BatchIfNone() {
        if (m_opened) {
            m_context.endBatch(false);
        }
    }
    BatchIfNone(const BatchIfNone&) = delete;
    BatchIfNone& operator=(const BatchIfNone&) = delete;

private:
    ProjectContext& m_context;
    bool m_opened = false;
};

TickTime secondsTicks(double seconds) {
    return secondsToTicks(seconds);
}

// The motion drawn as its path over the built-in picture, 128 x 128.
std::vector<std::uint8_t> motionIcon(const Scene& scene) {
    ProjectContext sketch;
    sketch.initialise(false);
    installScenePictures(sketch);
    sketch.project().setVAspRatio(scene.project().project().vAspRatio());
    const int id = sketch.project().addScene("", 0, kTicksPerSecond);
    Scene* copy = sketch.project().sceneById(id);
    if (!copy) {
        return {};
    }
    for (int p = 0; p < kParameterCount; ++p) {
        for (int k = 0; k < scene.keyCount(p); ++k) {
            KeyframeDesc d;
            scene.getKey(p, k, d);
            copy->addStoredKey(p, d);
        }
    }
    ImageBuffer path;
    if (!drawTemplateIcon(*copy, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}, true, 0.0, path)) {
        return {};
    }
    ImageBuffer icon;
    std::vector<std::uint8_t> bytes;
    if (PerfKit::allocate(&icon, PixelFormat::Bgra32, kIconSide, kIconSide) == PixelStatus::Ok &&
        PerfKit::copy(icon, path) == PixelStatus::Ok) {
        for (int y = 0; y < kIconSide; ++y) {
            bytes.insert(bytes.end(), icon.row(static_cast<std::uint32_t>(y)),
                         icon.row(static_cast<std::uint32_t>(y)) + kIconSide * 4);
        }
    }
    PerfKit::free(&icon);
    PerfKit::free(&path);
    return bytes;
}

// The scene as a project file's scene node, with its picture named by its path and no
// thumbnail: a template carries motion, never pictures.
bool writeSceneNode(StoreKey& root, Scene& scene) {
    SoundTrack noSound;
    ProjectFile file(scene.project(), noSound);
    return file.writeSceneSnapshot(root, scene);
}

bool readFinite(StoreKey& node, const char* name, double fallback, double& out) {
    const double v = node.getDouble(name, fallback);
    out = std::isfinite(v) ? v : fallback;
    return true;
}

}  // namespace

bool isMotionTemplate(const std::filesystem::path& path) {
    FileStorage storage;
    if (!storage.open(path, FileStorage::kReadOnly)) {
        return false;
    }
    StoreKeyPtr root = storage.root();
    return root && root->readString(kTemplate) == kIsTemplate &&
           root->readString(key::kFileType) == key::kFileTypeValue;
}

bool saveMotionTemplate(Scene& scene, const std::filesystem::path& path) {
    ErrorInfo& errors = scene.project().errors();
    FileStorage storage;
    if (!storage.open(path, FileStorage::kCreateNew)) {
        errors.report(msg::kCouldNotSaveTemplate, {}, path.string());
        return true;  // shown already: the caller goes on
    }
    StoreKeyPtr root = storage.root();
    if (!root) {
        errors.report(msg::kCouldNotLoadTemplate, {}, path.string());
        return true;
    }
    {
        BatchIfNone batch(scene.project());
        if (!writeSceneNode(*root, scene)) {
            errors.report(msg::kCouldNotSaveTemplate, {}, path.string());
        } else if (!root->setString(key::kFileType, key::kFileTypeValue) ||
                   !root->setString(kTemplate, kIsTemplate)) {
            errors.report(msg::kCouldNotSaveTemplate, {}, path.string());
        }
        const std::vector<std::uint8_t> icon = motionIcon(scene);
        if (!icon.empty()) {
            root->setInt(kIconWidth, kIconSide);
            root->setInt(kIconHeight, kIconSide);
            root->setBinary(kIconBits, icon.data(), icon.size());
        }
    }
    root.reset();
    return storage.close();
}

bool applyMotionTemplate(ProjectContext& context, int sceneId, const std::filesystem::path& path) {
    ErrorInfo& errors = context.errors();
    Scene* scene = context.project().sceneById(sceneId);
    if (!scene || !isMotionTemplate(path)) {
        return errors.report(msg::kCouldNotLoadTemplate, {}, path.string()) != 0;
    }
    FileStorage storage;
    if (!storage.open(path, FileStorage::kReadOnly)) {
        errors.report(msg::kCouldNotLoadTemplate, {}, path.string());
        return true;
    }
    StoreKeyPtr root = storage.root();
    if (!root) {
        errors.report(msg::kCouldNotLoadTemplate, {}, path.string());
        return true;
    }
    // Key times are fractions of the scene: the template's motion stretches to this scene.
    const TickTime length = scene->length();
    {
        BatchIfNone batch(context);
        if (!loadMotion(*root, *scene)) {
            errors.report(msg::kCouldNotLoadTemplate, {}, path.string());
        }
        if (auto* image = dynamic_cast<SceneImage*>(&scene->picture())) {
            if (StoreKeyPtr settings = root->openChild(key::kRenderSettings)) {
                image->setHasAlpha(settings->getInt(key::kHasAlpha, 0) != 0);
            }
            if (StoreKeyPtr prep = root->openChild(key::kImagePrep)) {
                ImagePrepSettings& settings = image->prepSettings();
                double gamma = 1.0, contrast = 0.0, brightness = 0.0;
                readFinite(*prep, key::kGamma, 1.0, gamma);
                readFinite(*prep, key::kContrast, 0.0, contrast);
                readFinite(*prep, key::kBrightness, 0.0, brightness);
                settings.setGamma(static_cast<float>(gamma > 0.0 && gamma <= 100.0 ? gamma : 1.0));
                settings.setContrast(static_cast<float>(std::clamp(contrast, -100.0, 100.0)));
                settings.setBrightness(static_cast<float>(std::clamp(brightness, -100.0, 100.0)));
                settings.setAutoLevels(prep->getInt(key::kAutoLevels, 0) != 0);
            }
        }
        scene->setLength(length);
        scene->setModified(true);
    }
    root.reset();
    return storage.close();
}

bool applyTemplateList(ProjectContext& context, const std::vector<int>& selectedIds,
                       const std::vector<std::filesystem::path>& list, ApplyOrder order,
                       UndoHistory* history) {
    const int n = static_cast<int>(list.size());
    if (n == 0) {
        return false;
    }
    std::vector<int> landscape;
    std::vector<int> portrait;
    if (order == ApplyOrder::RandomByOrientation) {
        for (int i = 0; i < n; ++i) {
            const int o = readTemplateOrientation(list[static_cast<std::size_t>(i)]);
            if (o != 1) {
                portrait.push_back(i);
            }
            if (o != 2) {
                landscape.push_back(i);
            }
        }
    }
    KeyframeRandom& random = context.keyframeRandom();
    const auto pick = [&](const std::vector<int>& from) {
        const auto m = static_cast<long>(from.size());
        return from[static_cast<std::size_t>(m * random.nextRaw() / 32768)];
    };
    bool ok = true;
    {
        ChangeBatch batch(context, true);
        Project& project = context.project();
        int k = -1;
        for (int index = project.sceneCount() - 1; index >= 0 && ok; --index) {
            Scene* scene = project.sceneAt(index);
            if (std::find(selectedIds.begin(), selectedIds.end(), scene->id()) ==
                selectedIds.end()) {
                continue;
            }
            int t = 0;
            if (order == ApplyOrder::InOrder) {
                k = k + 1 >= n ? 0 : k + 1;
                t = k;
            } else {
                const int w = scene->picture().width();
                const int h = scene->picture().height();
                if (order == ApplyOrder::RandomByOrientation && h < w && !landscape.empty()) {
                    t = pick(landscape);
                } else if (order == ApplyOrder::RandomByOrientation && w < h && !portrait.empty()) {
                    t = pick(portrait);
                } else {
                    t = (n * random.nextRaw()) >> 15;
                }
            }
            ok = applyMotionTemplate(context, scene->id(), list[static_cast<std::size_t>(t)]);
        }
    }
    // The step comes after the batch, so it holds every scene's new motion.
    if (ok && history != nullptr) {
        history->record(msg::kTemplateApplied);
    }
    return ok;
}

bool readTemplateIcon(const std::filesystem::path& path, ImageBuffer& icon) {
    icon = ImageBuffer{};
    if (!isMotionTemplate(path)) {
        return false;
    }
    FileStorage storage;
    if (!storage.open(path, FileStorage::kReadOnly)) {
        return false;
    }
    StoreKeyPtr root = storage.root();
    const int width = root ? root->getInt(kIconWidth, 0) : 0;
    const int height = root ? root->getInt(kIconHeight, 0) : 0;
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
        return false;
    }
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (root->valueSize(kIconBits) != static_cast<std::int64_t>(bytes)) {
        return false;
    }
    std::vector<std::uint8_t> data(bytes);
    if (root->getBinary(kIconBits, data.data(), data.size(), nullptr) !=
            static_cast<std::int64_t>(bytes) ||
        PerfKit::allocate(&icon, PixelFormat::Bgra32, width, height) != PixelStatus::Ok) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(icon.row(static_cast<std::uint32_t>(y)),
                    data.data() + static_cast<std::size_t>(y) * width * 4,
                    static_cast<std::size_t>(width) * 4);
    }
    return true;
}

int readTemplateOrientation(const std::filesystem::path& path) {
    FileStorage storage;
    if (!storage.open(path, FileStorage::kReadOnly)) {
        return 0;
    }
    StoreKeyPtr root = storage.root();
    return root ? root->getInt(kOrientation, 0) : 0;
}

std::optional<ProjectTemplate> readProjectTemplate(const std::filesystem::path& path) {
    FileStorage storage;
    if (!storage.open(path, FileStorage::kReadOnly)) {
        return std::nullopt;
    }
    StoreKeyPtr root = storage.root();
    StoreKeyPtr node = root ? root->openChild("ProjectTemplate") : StoreKeyPtr();
    if (!node) {
        return std::nullopt;
    }
    ProjectTemplate t;
    t.name = node->readString("Name");
    t.info = node->readString("Info");
    const auto seconds = [&](const char* name, double fallback) {
        double v = fallback;
        readFinite(*node, name, fallback, v);
        return secondsTicks(std::clamp(v, 0.0, 7200.0));
    };
    t.sceneLength = seconds("SceneLength", 5.0);
    t.overlap = seconds("OverlapLength", 1.0);
    t.soundFadeIn = seconds("SoundFadeIn", 1.0);
    t.soundFadeOut = seconds("SoundFadeOut", 1.0);
    t.soundFile = node->readString("SoundFile");
    t.templateFolder = node->readString("TemplateFolder");
    return t;
}

}  // namespace pm::templates
