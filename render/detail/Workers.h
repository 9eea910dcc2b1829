#pragma once

#include <functional>

namespace pm::detail {

// Threads kept for the whole run that take pieces of a job beside the thread that asks: starting
// a thread for every band of every frame took longer than drawing some of the bands.
class Workers {
public:
    // Runs piece(i) for every i in [0, count): piece 0 on the calling thread, the others on the
    // kept threads or, when those are busy, on the calling thread too. Returns when all are done.
    static void run(int count, const std::function<void(int)>& piece);
};

}  // namespace pm::detail
