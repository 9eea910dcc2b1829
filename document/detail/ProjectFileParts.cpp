#include "document/detail/ProjectFileParts.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include "core/Scene.h"
#include "render/SceneImage.h"
#include "document/detail/EmbeddedSource.h"

namespace pm::detail {

std::string sceneNodeName(int index) {
    return std::string(key::kScenePrefix) + std::to_string(index);
}

const SceneImage* sceneImageOf(const Scene& scene) {
    return dynamic_cast<const SceneImage*>(&scene.picture());
}

SceneImage* sceneImageOf(Scene& scene) {
    return dynamic_cast<SceneImage*>(&scene.picture());
}

std::int64_t imageDataSize(const Scene& scene) {
    const ScenePicture& picture = scene.picture();
    const std::int64_t pixels =
        std::int64_t{4} * std::max(0, picture.width()) * std::max(0, picture.height());
    if (const SceneImage* image = sceneImageOf(scene)) {
        if (auto bytes = image->memoryBytes()) {
            return static_cast<std::int64_t>(bytes->size());
        }
        if (auto held = image->heldPicture()) {
            if (const auto* embedded = dynamic_cast<const EmbeddedPicture*>(held.get())) {
                const std::int64_t size = embedded->source()->originalSize(embedded->keyname());
                if (size >= 0) {
                    return size;
                }
            }
            return pixels;
        }
        if (image->sourcePixels().pixels != nullptr) {
            return pixels;
        }
    }
    if (picture.isDefault() || picture.path().empty()) {
        return pixels;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(picture.path(), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

std::optional<std::int64_t> freeMegabytesAt(const std::filesystem::path& folder) {
    struct statvfs info {};
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    if (::statvfs(where.c_str(), &info) != 0) {
        return std::nullopt;
    }
    const long double bytes =
        static_cast<long double>(info.f_bavail) * static_cast<long double>(info.f_frsize);
    return static_cast<std::int64_t>(bytes / kMegabyte);
}

std::optional<std::int64_t> modificationTime(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
           static_cast<std::int64_t>(info.st_mtim.tv_nsec);
}

}  // namespace pm::detail
