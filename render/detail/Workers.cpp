#include "render/detail/Workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "render/PerfKit.h"

namespace pm::detail {

namespace {

// How long a kept thread looks for the next job before it sleeps.
constexpr auto kSpin = std::chrono::microseconds(100);

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

struct Job {
    const std::function<void(int)>* piece = nullptr;
    int next = 1;  // the next piece to hand out
    int count = 0;
    int unfinished = 0;
    std::condition_variable done;
};

class Pool {
public:
    explicit Pool(int threads) {
        for (int i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { serve(); });
        }
    }
    ~Pool() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads) {
            t.join();
        }
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void run(int count, const std::function<void(int)>& piece) {
        Job job;
        job.piece = &piece;
        job.count = count;
        job.unfinished = count - 1;
        if (count > 1) {
            {
                std::lock_guard lock(m_mutex);
                m_jobs.push_back(&job);
                m_queued.fetch_add(1, std::memory_order_release);
            }
            m_wake.notify_all();
        }
        piece(0);
        std::unique_lock lock(m_mutex);
        // Pieces no kept thread has taken yet are the caller's.
        while (job.next < job.count) {
            const int index = take(job);
            lock.unlock();
            piece(index);
            lock.lock();
            --job.unfinished;
        }
        job.done.wait(lock, [&job] { return job.unfinished == 0; });
    }

private:
    // The next piece of `job`, under the lock; a job whose pieces are all handed out leaves the
    // queue.
    int take(Job& job) {
        const int index = job.next++;
        if (job.next == job.count) {
            m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), &job));
            m_queued.fetch_sub(1, std::memory_order_relaxed);
        }
        return index;
    }

    void serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_jobs.empty() && !m_stop) {
                const auto waiting = std::chrono::steady_clock::now();
                // Frames rendered one after another: a short wait for the next job costs less
                // than being put to sleep and woken again. Where the last wait was longer (each
                // frame goes to an encoder first), looking would only take time from others.
                if (m_lastWait < kSpin) {
                    lock.unlock();
                    const auto until = waiting + kSpin;
                    for (unsigned i = 1; m_queued.load(std::memory_order_acquire) == 0; ++i) {
                        pause();
                        // The clock is read now and then: reading it costs more than a pause.
                        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) {
                            break;
                        }
                    }
                    lock.lock();
                }
                m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
                m_lastWait = std::chrono::steady_clock::now() - waiting;
            }
            if (m_stop) {
                return;
            }
            Job& job = *m_jobs.front();
            const int index = take(job);
            lock.unlock();
            (*job.piece)(index);
            lock.lock();
            if (--job.unfinished == 0) {
                job.done.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job*> m_jobs;
    std::atomic<int> m_queued{0};  // the jobs queued, read without the lock while waiting
    std::chrono::steady_clock::duration m_lastWait{};  // of the thread that waited last
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

}  // namespace

void Workers::run(int count, const std::function<void(int)>& piece) {
    if (count <= 0) {
        return;
    }
    if (count == 1) {
        piece(0);
        return;
    }
    static Pool pool(std::max(1, PerfKit::processorCount() - 1));
    pool.run(count, piece);
}

}  // namespace pm::detail
