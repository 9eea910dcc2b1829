#include "document/ProjectFile.h"

#include "core/ProjectContext.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"
#include "document/detail/EmbeddedSource.h"
#include "document/detail/ProjectFileParts.h"
#include "document/detail/ProjectLoader.h"
#include "document/detail/ProjectSaver.h"

namespace pm {

ProjectFile::ProjectFile(ProjectContext& context, SoundTrack& sound)
    : m_context(context),
      m_sound(sound),
      m_metaData(std::make_unique<MemoryStorage>()),
      m_nested(std::make_unique<detail::NestedProjects>()) {
    m_metaData->open();
}

ProjectFile::~ProjectFile() {
    close();
}

void ProjectFile::setOptions(Options options) {
    m_options = std::move(options);
}

bool ProjectFile::load(const std::filesystem::path& path, ProgressReporter* progress,
                       bool* replaced) {
    // Collecting is off: the batch ends with one "everything changed".
    ChangeBatch batch(m_context, false);
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectLoader loader(parts, path, progress);
    const bool ok = loader.run();
    if (replaced != nullptr) {
        *replaced = loader.replacedProject();
    }
    if (!loader.replacedProject()) {
        return ok;
    }
    m_path = m_source ? path : std::filesystem::path();
    return ok;
}

bool ProjectFile::save(const std::filesystem::path& path, ProgressReporter* progress) {
    ChangeBatch batch(m_context);
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectSaver saver(parts, path, progress);
    if (!saver.run()) {
        return false;
    }
    m_path = path;
    return true;
}

void ProjectFile::close() {
    if (m_source) {
        m_source->detach();
        m_source.reset();
    }
    m_nested->nodes.clear();
    m_metaData->open();
    m_path.clear();
}

detail::ProjectFileParts ProjectFile::parts() {
    return {m_context, m_sound, m_options, m_source, *m_metaData, *m_nested, m_pictureProblems};
}

StoreKeyPtr ProjectFile::metaData() const {
    return m_metaData->root();
}

bool ProjectFile::writeSnapshot(StoreKey& root, Part part) {
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectSaver saver(parts, {}, nullptr, detail::ProjectSaver::Mode::Snapshot);
    switch (part) {
        case Part::Timing:
            return saver.writeTiming(root);
        case Part::Markers:
            return saver.writeMarkers(root);
        case Part::Sound:
            return saver.writeSound(root);
    }
    return false;
}

void ProjectFile::readSnapshot(StoreKey& root, Part part,
                               std::shared_ptr<const std::vector<std::uint8_t>> soundBytes) {
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectLoader loader(parts, {}, nullptr, detail::ProjectLoader::Mode::Snapshot);
    switch (part) {
        case Part::Timing:
            loader.readTiming(root);
            break;
        case Part::Markers:
            loader.readMarkers(root);
            break;
        case Part::Sound:
            loader.readSound(root, std::move(soundBytes));
            break;
    }
}

bool ProjectFile::writeSceneSnapshot(StoreKey& node, Scene& scene) {
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectSaver saver(parts, {}, nullptr, detail::ProjectSaver::Mode::Snapshot);
    return saver.writeSceneNode(node, scene);
}

bool ProjectFile::readSceneSnapshot(StoreKey& node, Scene& scene, ProgressReporter* progress,
                                    std::shared_ptr<const std::vector<std::uint8_t>> pictureBytes) {
    detail::ProjectFileParts parts = this->parts();
    detail::ProjectLoader loader(parts, {}, progress, detail::ProjectLoader::Mode::Snapshot);
    return loader.readScene(node, scene, std::move(pictureBytes));
}

std::shared_ptr<const std::vector<std::uint8_t>> ProjectFile::embeddedPictureBytes(
    const std::string& keyname) const {
    return m_source ? m_source->originalBytes(keyname) : nullptr;
}

}  // namespace pm
