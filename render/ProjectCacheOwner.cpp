#include "render/ProjectCacheOwner.h"

#include "core/ProjectContext.h"
#include "render/ImageCache.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"

namespace pm {

namespace {

// A scene held in the table while its picture is loaded or freed outside the table lock.
class PinnedScene {
public:
    PinnedScene(Project& project, int id)
        : m_project(project), m_id(id), m_scene(project.pinScene(id)) {}
    ~PinnedScene() {
        if (m_scene != nullptr) {
            m_project.unpinScene(m_id);
        }
    }
    PinnedScene(const PinnedScene&) = delete;
    PinnedScene& operator=(const PinnedScene&) = delete;
    Scene* scene() const { return m_scene; }

private:
    Project& m_project;
    int m_id;
    Scene* m_scene;
};

}  // namespace

ProjectCacheOwner::ProjectCacheOwner(ProjectContext& context) : m_context(context) {}

ProjectCacheOwner::~ProjectCacheOwner() {
    attach(nullptr);
}

void ProjectCacheOwner::attach(ImageCache* cache) {
    if (cache == m_cache) {
        return;
    }
    if (m_cache != nullptr) {
        m_context.removeListener(this);
    }
    m_cache = cache;
    follow();
    installScenePictures(m_context, cache);
    if (cache != nullptr) {
        m_context.setPictureAddedHook([cache](int id) { cache->adopt(id); });
    } else {
        m_context.setPictureAddedHook(nullptr);
    }
    if (m_cache != nullptr) {
        m_context.addListener(this);
    }
}

int ProjectCacheOwner::count() const {
    const auto lock = m_context.project().lockTable();
    return m_context.project().sceneCount();
}

std::int64_t ProjectCacheOwner::size(int key) const {
    const Project& project = m_context.project();
    const auto lock = project.lockTable();
    const int index = project.indexOf(key);
    return index < 0 ? 0 : project.table()[static_cast<std::size_t>(index)].memoryEstimate + 1;
}

bool ProjectCacheOwner::load(int key, ProgressReporter* progress) {
    const PinnedScene pinned(m_context.project(), key);
    Scene* scene = pinned.scene();
    if (scene == nullptr) {
        return false;
    }
    ScenePicture& picture = scene->picture();
    if (picture.isLoaded()) {
        return true;
    }
    auto* image = dynamic_cast<SceneImage*>(&picture);
    if (image == nullptr) {
        return picture.ensureLoaded();
    }
    if (progress == nullptr) {
        return image->reload(nullptr, m_context.errors());
    }
    // A failed background load is tried again on the spot when the picture is needed, and that
    // load reports; a cancelled one is no failure at all.
    ErrorInfo quiet;
    return image->reload(progress, quiet);
}

void ProjectCacheOwner::unload(int key) {
    const PinnedScene pinned(m_context.project(), key);
    if (Scene* scene = pinned.scene()) {
        scene->picture().unload();
    }
}

bool ProjectCacheOwner::isLoaded(int key) const {
    const auto lock = m_context.project().lockTable();
    const Scene* scene = m_context.project().sceneById(key);
    return scene != nullptr && scene->picture().isLoaded();
}

bool ProjectCacheOwner::isLoading(int key) const {
    const auto lock = m_context.project().lockTable();
    const Scene* scene = m_context.project().sceneById(key);
    return scene != nullptr && scene->picture().isLoading();
}

void ProjectCacheOwner::follow() {
    const Project& project = m_context.project();
    m_cursor = project.cursor();
    m_currentId = project.currentSceneId();
}

int ProjectCacheOwner::currentIndex() const {
    const Project& project = m_context.project();
    const auto lock = project.lockTable();
    const int id = m_currentId;
    if (id >= 0) {
        return project.indexOf(id);
    }
    return project.sceneAtTime(m_cursor).index;
}

CacheOwner::CurrentItems ProjectCacheOwner::itemsAtCurrentTime() const {
    const Project& project = m_context.project();
    const auto lock = project.lockTable();
    const SceneAtTime at = project.sceneAtTime(m_cursor);
    CurrentItems items;
    items.key = at.id;
    items.nextKey = at.inTransition ? at.nextId : -1;
    return items;
}

int ProjectCacheOwner::keyAt(int index) const {
    const auto lock = m_context.project().lockTable();
    return m_context.project().idAt(index);
}

int ProjectCacheOwner::indexOf(int key) const {
    const auto lock = m_context.project().lockTable();
    return m_context.project().indexOf(key);
}

bool ProjectCacheOwner::busy() const {
    return m_context.project().exportState() != 0;
}

int ProjectCacheOwner::keyOf(const SceneImage& picture) const {
    const Project& project = m_context.project();
    const auto lock = project.lockTable();
    for (const SceneEntry& entry : project.table()) {
        if (&entry.scene->picture() == &picture) {
            return entry.scene->id();
        }
    }
    return -1;
}

std::int32_t ProjectCacheOwner::onChange(std::uint32_t code, ChangeArgument) {
    if (code == kChangeCursor || code == kChangeCurrentScene || code == kChangeProjectReplaced) {
        follow();
    }
    if (code == kChangeCurrentScene && m_cache != nullptr) {
        const int id = m_context.project().currentSceneId();
        if (id >= 0) {
            m_cache->ensureLoaded(id);
        } else {
            m_cache->prefetch();
        }
    }
    return 0;
}

}  // namespace pm
