#include "render/ImageCache.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "core/ErrorInfo.h"
#include "render/CacheOwner.h"
#include "render/SceneImage.h"

namespace pm {

namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(25);
constexpr auto kUnloadWaitStep = std::chrono::milliseconds(100);
// Fewer listed pictures than this are never evicted, so that scrubbing around the current
// position does not reload.
constexpr std::size_t kKeepAtLeast = 3;

// The loader runs below normal priority so that playback keeps the processors it needs. On Linux
// that is a nice value 5 above the thread's own (a normal thread gets about three times its share
// of a processor, yet it is never starved as an idle-class thread would be behind busy renders).
// Giving a thread a lower nice value again needs CAP_SYS_NICE or a large RLIMIT_NICE, so "raised
// above normal" is one below the normal nice when allowed, else the normal nice when allowed, else
// it stays where it is; the thread that waits for it sleeps meanwhile, so it competes with little.
constexpr int kBelowNormal = 5;

int currentThreadId() {
    return static_cast<int>(::syscall(SYS_gettid));
}

int niceOf(int tid) {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return errno == 0 ? nice : 0;
}

bool setNice(int tid, int nice) {
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::clamp(nice, -20, 19)) == 0;
}

}  // namespace

ImageCache::ImageCache(CacheOwner& owner) : m_owner(owner) {}

ImageCache::~ImageCache() {
    shutdown();
}

std::int64_t ImageCache::megabytesOf(std::int64_t bytes) {
    return bytes >> 20;
}

void ImageCache::setBudget(int megabytes) {
    m_budget = megabytes;
    std::lock_guard evict(m_evictLock);
    makeRoomLocked(1);
}

int ImageCache::budget() const {
    return m_budget;
}

bool ImageCache::prefetchEnabled() const {
    return m_prefetch;
}

void ImageCache::setPrefetchEnabled(bool enabled) {
    m_prefetch = enabled;
}

bool ImageCache::isLoadingInBackground() const {
    std::lock_guard flag(m_flagLock);
    return m_loading;
}

ImageCache::Stats ImageCache::stats() const {
    std::lock_guard lock(m_statsLock);
    return m_stats;
}

std::vector<int> ImageCache::recentKeys() const {
    std::lock_guard evict(m_evictLock);
    return m_recent;
}

std::int64_t ImageCache::countedMegabytes() const {
    std::lock_guard evict(m_evictLock);
    std::int64_t total = 0;
    for (const int key : m_recent) {
        total += megabytesOf(m_owner.size(key));
    }
    return total;
}

bool ImageCache::isListed(int key) const {
    std::lock_guard evict(m_evictLock);
    return std::find(m_recent.begin(), m_recent.end(), key) != m_recent.end();
}

bool ImageCache::backgroundLoadOf(int key) const {
    std::lock_guard flag(m_flagLock);
    return m_loading && m_loadingKey == key;
}

bool ImageCache::loadedOrLoading(int key) const {
    // The loader thread claims the picture only once it has made room, so its key counts as
    // loading from the moment the thread is started.
    return m_owner.isLoaded(key) || m_owner.isLoading(key) || backgroundLoadOf(key);
}

void ImageCache::refreshListLocked() {
    std::erase_if(m_recent, [&](int key) { return m_owner.indexOf(key) < 0; });
    const int n = m_owner.count();
    for (int i = 0; i < n; ++i) {
        const int key = m_owner.keyAt(i);
        if (m_owner.isLoaded(key) &&
            std::find(m_recent.begin(), m_recent.end(), key) == m_recent.end()) {
            m_recent.push_back(key);
        }
    }
}

void ImageCache::placeLocked(int key, int position) {
    std::erase(m_recent, key);
    const auto at = static_cast<std::size_t>(std::max(position, 0));
    m_recent.insert(m_recent.begin() + static_cast<std::ptrdiff_t>(std::min(at, m_recent.size())),
                    key);
}

void ImageCache::makeRoomFor(int key) {
    std::lock_guard evict(m_evictLock);
    makeRoomLocked(megabytesOf(m_owner.size(key)));
    m_reserved.push_back(key);
}

void ImageCache::release(int key) {
    std::lock_guard evict(m_evictLock);
    if (const auto it = std::find(m_reserved.begin(), m_reserved.end(), key);
        it != m_reserved.end()) {
        m_reserved.erase(it);
    }
}

void ImageCache::makeRoomLocked(std::int64_t megabytes) {
    const std::int64_t n = std::max<std::int64_t>(megabytes, 1);
    refreshListLocked();
    std::int64_t total = 0;
    for (const int key : m_recent) {
        total += megabytesOf(m_owner.size(key));
    }
    for (const int key : m_reserved) {
        if (std::find(m_recent.begin(), m_recent.end(), key) == m_recent.end()) {
            total += megabytesOf(m_owner.size(key));
        }
    }
    const std::int64_t budget = m_budget;
    if (n + total < budget) {
        return;
    }
    // While the owner is busy (an export) nothing on screen needs keeping.
    CacheOwner::CurrentItems shown;
    if (!m_owner.busy()) {
        shown = m_owner.itemsAtCurrentTime();
    }
    for (std::size_t i = m_recent.size(); i-- > 0;) {
        if (m_recent.size() < kKeepAtLeast) {
            break;
        }
        const int key = m_recent[i];
        if (key != shown.key && key != shown.nextKey) {
            total -= megabytesOf(m_owner.size(key));
            m_owner.unload(key);
            m_recent.erase(m_recent.begin() + static_cast<std::ptrdiff_t>(i));
            if (total + n < budget) {
                break;
            }
        }
    }
}

void ImageCache::loadInBackground(int key, int position) {
    if (m_owner.busy() || m_owner.indexOf(key) < 0) {
        return;
    }
    {
        std::lock_guard flag(m_flagLock);
        if (m_loading || m_stopped) {
            return;
        }
    }
    if (isListed(key) && (m_owner.isLoaded(key) || m_owner.isLoading(key))) {
        {
            std::lock_guard evict(m_evictLock);
            placeLocked(key, position);
        }
        prefetch();
        return;
    }
    ProgressReporter* progress = nullptr;
    {
        std::lock_guard flag(m_flagLock);
        if (m_loading || m_stopped) {
            return;
        }
        m_loading = true;
        m_loadingKey = key;
        // The previous loader no longer uses its reporter: it cleared the flag as its last act.
        m_loaderProgress = std::make_unique<ProgressReporter>();
        progress = m_loaderProgress.get();
    }
    std::lock_guard thread(m_threadLock);
    // The previous thread has finished; joining it is its handle being closed.
    if (m_loader.joinable()) {
        m_loader.join();
    }
    {
        // A shutdown that joined before this thread lock was taken would not see a thread started
        // now.
        std::lock_guard flag(m_flagLock);
        if (m_stopped) {
            m_loading = false;
            m_loadingKey = -1;
            return;
        }
    }
    m_loader = std::thread([this, key, position, progress] {
        {
            std::lock_guard flag(m_flagLock);
            m_loaderTid = currentThreadId();
            m_loaderNice = niceOf(m_loaderTid);
            setNice(m_loaderTid, m_loaderNice + kBelowNormal);
        }
        const std::int64_t size = m_owner.size(key);
        bool ok = false;
        if (size > 0 && !progress->cancelled()) {
            makeRoomFor(key);
            ok = m_owner.load(key, progress);
            if (ok) {
                std::lock_guard evict(m_evictLock);
                placeLocked(key, position);
            }
            release(key);
        }
        if (ok) {
            std::lock_guard stats(m_statsLock);
            ++m_stats.loadedInBackground;
        }
        std::lock_guard flag(m_flagLock);
        m_loading = false;
        m_loadingKey = -1;
        m_loaderTid = 0;
    });
}

void ImageCache::loadCurrentInBackground() {
    const int index = m_owner.currentIndex();
    if (index >= 0) {
        loadInBackground(m_owner.keyAt(index), 0);
    }
}

void ImageCache::raiseLoader() {
    std::lock_guard flag(m_flagLock);
    if (!m_loading || m_loaderTid == 0) {
        return;
    }
    if (!setNice(m_loaderTid, m_loaderNice - 1)) {
        setNice(m_loaderTid, m_loaderNice);
    }
}

void ImageCache::prefetch() {
    if (!m_prefetch) {
        return;
    }
    int mostRecent = -1;
    {
        std::lock_guard evict(m_evictLock);
        refreshListLocked();
        if (!m_recent.empty()) {
            mostRecent = m_recent.front();
        }
    }
    const int n = m_owner.count();
    if (mostRecent < 0) {
        if (n > 0) {
            loadInBackground(m_owner.keyAt(0), 0);
        }
        return;
    }
    int c = m_owner.currentIndex();
    if (c < 0) {
        c = m_owner.indexOf(mostRecent);
    }
    if (c < 0) {
        return;
    }
    // The following scene first, the preceding one second.
    if (c + 1 < n && !loadedOrLoading(m_owner.keyAt(c + 1))) {
        loadInBackground(m_owner.keyAt(c + 1), 1);
    } else if (!m_owner.busy() && c >= 1 && !loadedOrLoading(m_owner.keyAt(c - 1))) {
        loadInBackground(m_owner.keyAt(c - 1), 1);
    }
}

void ImageCache::adopt(int key) {
    std::lock_guard evict(m_evictLock);
    refreshListLocked();
    if (!m_owner.isLoaded(key)) {
        return;
    }
    placeLocked(key, 0);
    makeRoomLocked(0);
}

bool ImageCache::ensureLoaded(int key) {
    {
        std::lock_guard evict(m_evictLock);
        refreshListLocked();
    }
    const int index = m_owner.indexOf(key);
    if (index < 0 || index >= m_owner.count()) {
        return false;
    }
    if (isListed(key) && m_owner.isLoaded(key)) {
        std::lock_guard evict(m_evictLock);
        placeLocked(key, 0);
    } else if (backgroundLoadOf(key) || m_owner.isLoading(key)) {
        // Loading it again would only race the loader: wait for it, with the loader raised.
        raiseLoader();
        {
            std::lock_guard stats(m_statsLock);
            ++m_stats.waitedForBackground;
        }
        while (backgroundLoadOf(key) || m_owner.isLoading(key)) {
            std::this_thread::sleep_for(kWaitStep);
        }
    }
    if (!m_owner.isLoaded(key)) {
        // Not listed, or its background load failed: load it here.
        {
            std::lock_guard stats(m_statsLock);
            ++m_stats.loadedOnTheSpot;
        }
        makeRoomFor(key);
        m_owner.load(key, nullptr);
        std::lock_guard evict(m_evictLock);
        placeLocked(key, 0);
        m_reserved.erase(std::find(m_reserved.begin(), m_reserved.end(), key));
    } else {
        std::lock_guard evict(m_evictLock);
        placeLocked(key, 0);
    }
    prefetch();
    return m_owner.isLoaded(key);
}

bool ImageCache::loadNow(SceneImage& image) {
    const int key = m_owner.keyOf(image);
    if (key >= 0) {
        return ensureLoaded(key);
    }
    // A picture of no scene in the table (a scene being built) is not the cache's to count.
    ErrorInfo errors;
    return image.reload(nullptr, errors);
}

void ImageCache::preloadAll(ProgressReporter* progress) {
    m_prefetch = true;
    std::vector<int> keys;
    {
        std::lock_guard evict(m_evictLock);
        refreshListLocked();
        std::int64_t loaded = 0;
        for (const int key : m_recent) {
            loaded += megabytesOf(m_owner.size(key));
        }
        const std::int64_t room = m_budget * 2 / 3 - loaded;
        std::int64_t sum = 0;
        const int n = m_owner.count();
        for (int i = 0; i < n; ++i) {
            const int key = m_owner.keyAt(i);
            if (m_owner.isLoaded(key)) {
                continue;
            }
            sum += megabytesOf(m_owner.size(key));
            if (sum >= room) {
                break;
            }
            keys.push_back(key);
        }
    }
    const auto total = static_cast<double>(keys.size() + 1);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (progress != nullptr && progress->cancelled()) {
            break;
        }
        if (m_owner.load(keys[k], nullptr)) {
            std::lock_guard evict(m_evictLock);
            if (std::find(m_recent.begin(), m_recent.end(), keys[k]) == m_recent.end()) {
                // In scene order: the first scene is the one played first, so it stays longest.
                m_recent.push_back(keys[k]);
            }
        }
        if (progress != nullptr) {
            progress->setFraction(100.0 * static_cast<double>(k + 1) / total);
        }
    }
}

void ImageCache::joinLoader() {
    std::lock_guard thread(m_threadLock);
    if (m_loader.joinable()) {
        m_loader.join();
    }
}

void ImageCache::unloadAll() {
    while (isLoadingInBackground()) {
        std::this_thread::sleep_for(kUnloadWaitStep);
    }
    joinLoader();
    std::lock_guard evict(m_evictLock);
    m_recent.clear();
}

void ImageCache::shutdown() {
    {
        std::lock_guard flag(m_flagLock);
        m_stopped = true;
        if (m_loading && m_loaderProgress) {
            m_loaderProgress->cancel();
        }
    }
    joinLoader();
}

}  // namespace pm
