#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ProgressReporter.h"
#include "render/CacheOwner.h"
#include "render/ImageCache.h"
#include "render/ImageDecoder.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

constexpr std::int64_t kMegabyte = 1 << 20;

// Scenes by key with sizes in whole megabytes; nothing is allocated. Loads take `loadTime`.
class FakeOwner : public CacheOwner {
public:
    struct Item {
        int key;
        int megabytes;
        bool loaded = false;
        bool loading = false;
        int loads = 0;
        int nice = 0;
    };

    explicit FakeOwner(std::vector<std::pair<int, int>> scenes) {
        for (const auto& [key, mb] : scenes) {
            m_items.push_back({key, mb});
        }
    }

    int count() const override { return static_cast<int>(m_items.size()); }
    std::int64_t size(int key) const override {
        std::lock_guard lock(m_mutex);
        const Item* item = find(key);
        return item ? item->megabytes * kMegabyte : 0;
    }
    bool load(int key, ProgressReporter* progress) override {
        {
            std::lock_guard lock(m_mutex);
            Item* item = find(key);
            if (!item) {
                return false;
            }
            item->loading = true;
            ++item->loads;
            errno = 0;
            item->nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
        }
        // A long decode that stops when cancelled.
        const auto end = std::chrono::steady_clock::now() + loadTime;
        bool cancelled = false;
        while (std::chrono::steady_clock::now() < end) {
            if (progress && progress->cancelled()) {
                cancelled = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard lock(m_mutex);
        Item* item = find(key);
        item->loading = false;
        item->loaded = !cancelled;
        return !cancelled;
    }
    void unload(int key) override {
        std::lock_guard lock(m_mutex);
        if (Item* item = find(key)) {
            item->loaded = false;
        }
    }
    bool isLoaded(int key) const override {
        std::lock_guard lock(m_mutex);
        const Item* item = find(key);
        return item && item->loaded;
    }
    bool isLoading(int key) const override {
        std::lock_guard lock(m_mutex);
        const Item* item = find(key);
        return item && item->loading;
    }
    int currentIndex() const override { return current; }
    CurrentItems itemsAtCurrentTime() const override { return shown; }
    int keyAt(int index) const override {
        return index >= 0 && index < count() ? m_items[static_cast<std::size_t>(index)].key : -1;
    }
    int indexOf(int key) const override {
        for (int i = 0; i < count(); ++i) {
            if (m_items[static_cast<std::size_t>(i)].key == key) {
                return i;
            }
        }
        return -1;
    }
    bool busy() const override { return isBusy; }
    int keyOf(const SceneImage&) const override { return -1; }

    void setLoaded(int key) {
        std::lock_guard lock(m_mutex);
        find(key)->loaded = true;
    }
    Item item(int key) const {
        std::lock_guard lock(m_mutex);
        return *find(key);
    }
    std::vector<int> loadedKeys() const {
        std::lock_guard lock(m_mutex);
        std::vector<int> keys;
        for (const Item& i : m_items) {
            if (i.loaded) {
                keys.push_back(i.key);
            }
        }
        return keys;
    }

    std::atomic<int> current{-1};
    CurrentItems shown;
    std::atomic<bool> isBusy{false};
    std::chrono::milliseconds loadTime{0};

private:
    Item* find(int key) {
        for (Item& i : m_items) {
            if (i.key == key) {
                return &i;
            }
        }
        return nullptr;
    }
    const Item* find(int key) const { return const_cast<FakeOwner*>(this)->find(key); }

    mutable std::mutex m_mutex;
    std::vector<Item> m_items;
};

enum : int { A = 1, B = 2, C = 3, D = 4, E = 5 };

// Four loaded pictures of 30 MB, listed D, C, B, A (A least recently used), and E to come.
FakeOwner fourLoaded() {
    return FakeOwner({{D, 30}, {C, 30}, {B, 30}, {A, 30}, {E, 30}});
}

TEST(ImageCacheTest, MakingRoomEvictsFromTheLeastRecentlyUsedAndKeepsThree) {
    struct Case {
        int budget;
        bool aOnScreen;
        bool busy;
        std::vector<int> stillLoaded;
        std::vector<int> recent;
    };
    const Case cases[] = {
        // 120 + 30 is over 100: A and B go, and 60 + 30 is below.
        {100, false, false, {D, C, E}, {E, D, C}},
        // Only two are left after A and B, so eviction stops though 90 exceed 50.
        {50, false, false, {D, C, E}, {E, D, C}},
        // The scene on screen stays even as the least recently used.
        {100, true, false, {D, A, E}, {E, D, A}},
        // ... unless an export runs.
        {100, true, true, {D, C, E}, {E, D, C}},
    };
    for (const Case& c : cases) {
        FakeOwner owner = fourLoaded();
        ImageCache cache(owner);
        cache.setBudget(c.budget);
        for (int key : {D, C, B, A}) {
            owner.setLoaded(key);
        }
        if (c.aOnScreen) {
            owner.shown.key = A;
        }
        owner.isBusy = c.busy;
        EXPECT_TRUE(cache.ensureLoaded(E));
        std::vector<int> loaded = owner.loadedKeys();
        std::vector<int> expected = c.stillLoaded;
        std::sort(loaded.begin(), loaded.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(loaded, expected) << "budget " << c.budget << " on screen " << c.aOnScreen;
        EXPECT_EQ(cache.recentKeys(), c.recent) << "budget " << c.budget;
    }
}

TEST(ImageCacheTest, ARequestWaitsForTheBackgroundLoadInsteadOfLoadingAgain) {
    FakeOwner owner({{A, 10}, {B, 10}});
    owner.loadTime = std::chrono::milliseconds(150);
    ImageCache cache(owner);
    cache.setBudget(1000);
    cache.loadInBackground(B, 0);
    EXPECT_TRUE(cache.ensureLoaded(B));
    EXPECT_EQ(owner.item(B).loads, 1);
    const ImageCache::Stats stats = cache.stats();
    EXPECT_EQ(stats.waitedForBackground, 1);
    EXPECT_EQ(stats.loadedOnTheSpot, 0);
    EXPECT_EQ(cache.recentKeys(), std::vector<int>{B});
}

TEST(ImageCacheTest, TheLoaderRunsBelowNormalPriority) {
    FakeOwner owner({{A, 10}});
    ImageCache cache(owner);
    errno = 0;
    const int normal = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    cache.loadInBackground(A, 0);
    cache.unloadAll();
    EXPECT_EQ(owner.item(A).loads, 1);
    EXPECT_GT(owner.item(A).nice, normal);
}

TEST(ImageCacheTest, PrefetchPreparesTheNextSceneThenThePrevious) {
    FakeOwner owner({{A, 10}, {B, 10}, {C, 10}, {D, 10}});
    ImageCache cache(owner);
    cache.setBudget(1000);
    cache.setPrefetchEnabled(true);
    owner.current = 1;  // B
    EXPECT_TRUE(cache.ensureLoaded(B));
    cache.unloadAll();
    EXPECT_TRUE(owner.isLoaded(C));
    EXPECT_FALSE(owner.isLoaded(A));
    cache.prefetch();
    cache.unloadAll();
    EXPECT_TRUE(owner.isLoaded(A));
    EXPECT_FALSE(owner.isLoaded(D));
    // An export stops background loading altogether.
    owner.current = 2;
    owner.isBusy = true;
    cache.prefetch();
    cache.unloadAll();
    EXPECT_FALSE(owner.isLoaded(D));
}

TEST(ImageCacheTest, PreloadFillsTwoThirdsOfTheBudgetInSceneOrder) {
    FakeOwner owner({{A, 20}, {B, 20}, {C, 20}, {D, 20}, {E, 20}});
    ImageCache cache(owner);
    cache.setBudget(100);  // room for 66: three of 20 (the fourth would reach 80)
    ProgressReporter progress;
    cache.preloadAll(&progress);
    EXPECT_EQ(owner.loadedKeys(), (std::vector<int>{A, B, C}));
    EXPECT_EQ(cache.recentKeys(), (std::vector<int>{A, B, C}));
    EXPECT_NEAR(progress.position(), 0.75, 1e-9);  // 100 * 3 / 4 percent
    EXPECT_TRUE(cache.prefetchEnabled());
}

TEST(ImageCacheTest, DestroyingTheCacheCancelsALongLoad) {
    FakeOwner owner({{A, 10}});
    owner.loadTime = std::chrono::seconds(60);
    const auto start = std::chrono::steady_clock::now();
    {
        ImageCache cache(owner);
        cache.loadInBackground(A, 0);
        while (!owner.isLoading(A)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(owner.isLoaded(A));
}

TEST(ImageCacheTest, ACancelledDecodeStopsAndFails) {
    test::TempFolder folder;
    const std::string path = folder.file("picture.jpg");
    test::writeFile(path, test::encodePicture(640, 480, 24, FIF_JPEG, test::gradient));
    ImageBuffer out;
    ProgressReporter running;
    EXPECT_TRUE(ImageDecoder::decodeFile(path, &out, &running).ok());
    ImageBuffer none;
    ProgressReporter cancelled;
    cancelled.cancel();
    EXPECT_FALSE(ImageDecoder::decodeFile(path, &none, &cancelled).ok());
    EXPECT_EQ(none.pixels, nullptr);
}

}  // namespace
}  // namespace pm
