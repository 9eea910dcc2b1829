#pragma once

// Frames on their way to the encoder, consumed in order on a thread of their own: the program
// renders and converts the next picture while the encoder works on the ones before it.

extern "C" {
#include <libavutil/frame.h>
}

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace pm::exporters {

struct AvFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using AvFrame = std::unique_ptr<AVFrame, AvFrameDeleter>;

class EncoderThread {
public:
    // `consume` gets each frame with the stream it belongs to; false from it ends the work. At
    // most `depth` frames wait or are being consumed at any time.
    using Consume = std::function<bool(AVFrame* frame, int stream)>;
    EncoderThread(Consume consume, int depth);
    // Frames not yet consumed are dropped.
    ~EncoderThread();
    EncoderThread(const EncoderThread&) = delete;
    EncoderThread& operator=(const EncoderThread&) = delete;

    // Waits for room; false once a frame has failed (this one is then dropped).
    bool push(AvFrame frame, int stream);
    // Waits until every frame is consumed; false if any failed.
    bool drain();

private:
    struct Job {
        AvFrame frame;
        int stream = 0;
    };
    void work();

    const Consume m_consume;
    const std::size_t m_depth;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;  // the front one is being consumed while m_busy
    bool m_busy = false;
    bool m_failed = false;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts once everything above is ready
};

}  // namespace pm::exporters
