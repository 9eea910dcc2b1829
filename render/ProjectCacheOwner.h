#pragma once

#include <atomic>
#include <cstdint>

#include "core/ChangeListener.h"
#include "render/CacheOwner.h"

namespace pm {

class ImageCache;
class ProjectContext;

// The project's side of the picture cache: its scenes by id, the scene on screen at the
// project's cursor, and the export state as "busy". The scene being played or edited is the
// current scene, or without one the scene at the project's cursor, so that playing the whole
// project prepares the scenes ahead of it too. Once attached, the cache loads every scene
// picture that must have its pixels, and a change of the current scene loads it and prepares its
// neighbours.
class ProjectCacheOwner : public CacheOwner, public ChangeListener {
public:
    explicit ProjectCacheOwner(ProjectContext& context);
    ~ProjectCacheOwner() override;
    ProjectCacheOwner(const ProjectCacheOwner&) = delete;
    ProjectCacheOwner& operator=(const ProjectCacheOwner&) = delete;

    // Null detaches. The cache must stay until it is detached.
    void attach(ImageCache* cache);

    int count() const override;
    std::int64_t size(int key) const override;
    bool load(int key, ProgressReporter* progress) override;
    void unload(int key) override;
    bool isLoaded(int key) const override;
    bool isLoading(int key) const override;
    int currentIndex() const override;
    CurrentItems itemsAtCurrentTime() const override;
    int keyAt(int index) const override;
    int indexOf(int key) const override;
    bool busy() const override;
    int keyOf(const SceneImage& picture) const override;

    std::int32_t onChange(std::uint32_t code, ChangeArgument argument) override;

private:
    // The cursor and the current scene as the user-interface thread last set them; the loader
    // thread reads these copies.
    void follow();

    ProjectContext& m_context;
    ImageCache* m_cache = nullptr;
    std::atomic<float> m_cursor{0.0f};
    std::atomic<int> m_currentId{-1};
};

}  // namespace pm
