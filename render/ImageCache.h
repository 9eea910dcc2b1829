#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ProgressReporter.h"
#include "render/PictureLoader.h"

namespace pm {

class CacheOwner;

// Keeps the scene pictures in memory within a budget: the most recently used stay, the least
// recently used are unloaded to make room, and the pictures about to be needed are loaded ahead on
// one background thread at a time, at a priority below the render threads'.
//
// Every operation may be called from any thread. Locks: the eviction lock (over the recent list)
// is taken before any picture's locks; the loading-flag lock only around the flag.
class ImageCache : public PictureLoader {
public:
    static constexpr int kInitialBudget = 120;  // megabytes

    explicit ImageCache(CacheOwner& owner);
    // Cancels a background load and waits for its thread.
    ~ImageCache() override;
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    void setBudget(int megabytes);
    int budget() const;

    // Starts loading the scene `key` on the loader thread and lists it at `position` of the
    // recent list when done. Nothing happens while the owner is busy or a load runs.
    void loadInBackground(int key, int position);
    // The current scene's picture, to the front of the recent list.
    void loadCurrentInBackground();
    // Loads the scene now unless it is loaded: waits for a background load of it (with the loader
    // raised) rather than loading it twice. Then it is the most recently used.
    bool ensureLoaded(int key);
    // A scene just added with its picture loaded: it becomes the most recently used, and older
    // pictures are unloaded until the budget holds them.
    void adopt(int key);
    // Loads the scene after the current one, or else the one before, in the background.
    void prefetch();
    // Loads the first scenes that fit in two thirds of the budget, then enables prefetching.
    void preloadAll(ProgressReporter* progress);
    // Waits for a background load and forgets the recent list.
    void unloadAll();
    // Stops a background load (cancelling its decode) and waits for its thread. The cache starts
    // no more background loads afterwards.
    void shutdown();

    bool prefetchEnabled() const;
    void setPrefetchEnabled(bool enabled);
    bool isLoadingInBackground() const;

    // PictureLoader: a picture that must have its pixels now.
    bool loadNow(SceneImage& image) override;

    // The recent list, most recently used first, and what its pictures take in whole megabytes.
    std::vector<int> recentKeys() const;
    std::int64_t countedMegabytes() const;

    // How often a caller had to wait for a picture: for a load already running (the loader's, or
    // another thread's), or for a load on the spot; and the loader's loads.
    struct Stats {
        int waitedForBackground = 0;
        int loadedOnTheSpot = 0;
        int loadedInBackground = 0;
    };
    Stats stats() const;

private:
    // Makes room for `key` and reserves its room until release(): two loads that make room at
    // once (the loader's and one on the spot) then count each other.
    void makeRoomFor(int key);
    void release(int key);
    void makeRoomLocked(std::int64_t megabytes);
    // Under the eviction lock: forgets keys that left the table and lists loaded pictures that
    // were loaded without the cache (a scene just added), as least recently used.
    void refreshListLocked();
    void placeLocked(int key, int position);
    bool isListed(int key) const;
    bool backgroundLoadOf(int key) const;
    bool loadedOrLoading(int key) const;
    void runLoader(int key, int position);
    void raiseLoader();
    void joinLoader();
    static std::int64_t megabytesOf(std::int64_t bytes);

    CacheOwner& m_owner;
    std::atomic<int> m_budget{kInitialBudget};
    std::atomic<bool> m_prefetch{false};

    // Eviction lock: the recent list.
    mutable std::mutex m_evictLock;
    std::vector<int> m_recent;
    std::vector<int> m_reserved;

    // Loading-flag lock: the flag, the key loading, the thread's id for its priority.
    mutable std::mutex m_flagLock;
    bool m_loading = false;
    bool m_stopped = false;
    int m_loadingKey = -1;
    int m_loaderTid = 0;
    int m_loaderNice = 0;  // the loader's normal nice value
    std::unique_ptr<ProgressReporter> m_loaderProgress;
    // Started and joined under the thread lock, never the flag lock.
    std::mutex m_threadLock;
    std::thread m_loader;

    mutable std::mutex m_statsLock;
    Stats m_stats;
};

}  // namespace pm
