#include "store/project/ProjectFile.h"

#include "core/ProjectContext.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"
#include "store/project/detail/EmbeddedSource.h"
#include "store/project/detail/ProjectFileParts.h"
#include "store/project/detail/ProjectLoader.h"
#include "store/project/detail/ProjectSaver.h"

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

bool ProjectFile::load(const std::filesystem::path& path, ProgressReporter* progress) {
    // Collecting is off: the batch ends with one "everything changed".
    ChangeBatch batch(m_context, false);
    detail::ProjectFileParts parts{m_context, m_sound, m_options, m_source, *m_metaData, *m_nested};
    detail::ProjectLoader loader(parts, path, progress);
    const bool ok = loader.run();
    m_path = m_source ? path : std::filesystem::path();
    return ok;
}

bool ProjectFile::save(const std::filesystem::path& path, ProgressReporter* progress) {
    ChangeBatch batch(m_context);
    detail::ProjectFileParts parts{m_context, m_sound, m_options, m_source, *m_metaData, *m_nested};
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

StoreKeyPtr ProjectFile::metaData() const {
    return m_metaData->root();
}

}  // namespace pm
