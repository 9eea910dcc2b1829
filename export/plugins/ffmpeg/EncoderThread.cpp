#include "export/plugins/ffmpeg/EncoderThread.h"

#include <algorithm>

namespace pm::exporters {

EncoderThread::EncoderThread(Consume consume, int depth)
    : m_consume(std::move(consume)),
      m_depth(static_cast<std::size_t>(std::max(1, depth))),
      m_thread([this] { work(); }) {}

EncoderThread::~EncoderThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool EncoderThread::push(AvFrame frame, int stream) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || m_jobs.size() < m_depth; });
    if (m_failed) {
        return false;
    }
    m_jobs.push_back(Job{std::move(frame), stream});
    lock.unlock();
    m_changed.notify_all();
    return true;
}

bool EncoderThread::drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || m_jobs.empty(); });
    return !m_failed;
}

void EncoderThread::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) {
            return;
        }
        // The job stays in the queue while it is consumed, so that it counts against the depth.
        Job& job = m_jobs.front();
        lock.unlock();
        const bool ok = m_consume(job.frame.get(), job.stream);
        lock.lock();
        m_jobs.pop_front();
        if (!ok) {
            m_failed = true;
            m_jobs.clear();
        }
        lock.unlock();
        m_changed.notify_all();
        lock.lock();
    }
}

}  // namespace pm::exporters
