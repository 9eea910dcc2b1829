#pragma once

#include <cstdint>

#include "render/PerfKit.h"
#include "render/detail/Workers.h"

namespace pm::detail {

// Runs work(a, b) over rows [first, end): with two processors and at least `worthSplitting`
// rows, the lower half on a kept worker thread.
template <typename Work>
void inRowHalves(std::uint32_t first, std::uint32_t end, std::uint32_t worthSplitting,
                 const Work& work) {
    if (end <= first) {
        return;
    }
    const std::uint32_t rows = end - first;
    if (rows < worthSplitting || rows < 2 || PerfKit::processorCount() < 2) {
        work(first, end);
        return;
    }
    const std::uint32_t cut = first + rows / 2;
    Workers::run(2, [&](int half) {
        if (half == 0) {
            work(first, cut);
        } else {
            work(cut, end);
        }
    });
}

}  // namespace pm::detail
