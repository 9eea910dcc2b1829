#pragma once

#include <cstdint>

namespace pm {

class ProgressReporter;
class SceneImage;

// What the picture cache asks of whoever holds the pictures (the project): its scenes by key
// (scene id) or by table index. The loader thread calls these too.
class CacheOwner {
public:
    // The scene showing now and, during a transition, the next one; -1 for none.
    struct CurrentItems {
        int key = -1;
        int nextKey = -1;
    };

    virtual ~CacheOwner() = default;

    virtual int count() const = 0;
    // Bytes the picture takes when loaded; 0 for a key that is not in the table.
    virtual std::int64_t size(int key) const = 0;
    // `progress` (may be null) shows the load and can cancel it.
    virtual bool load(int key, ProgressReporter* progress) = 0;
    // Frees the full picture; the small proxy stays.
    virtual void unload(int key) = 0;
    virtual bool isLoaded(int key) const = 0;
    virtual bool isLoading(int key) const = 0;
    // The scene being played or edited, or -1.
    virtual int currentIndex() const = 0;
    virtual CurrentItems itemsAtCurrentTime() const = 0;
    virtual int keyAt(int index) const = 0;
    // -1 for a key that is not in the table.
    virtual int indexOf(int key) const = 0;
    // While true no background load starts (an export runs).
    virtual bool busy() const = 0;

    // The key of a scene's picture, -1 when the picture belongs to no scene of the table.
    virtual int keyOf(const SceneImage& picture) const = 0;
};

}  // namespace pm
