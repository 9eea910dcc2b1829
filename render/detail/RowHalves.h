#pragma once

#include <cstdint>
#include <thread>

#include "render/PerfKit.h"

namespace pm::detail {

// Runs work(first, end) over rows [0, rows): with two processors and at least `worthSplitting`
// rows, the lower half on a second thread.
template <typename Work>
void inRowHalves(std::uint32_t rows, std::uint32_t worthSplitting, const Work& work) {
    if (rows < worthSplitting || rows < 2 || PerfKit::processorCount() < 2) {
        work(std::uint32_t{0}, rows);
        return;
    }
    const std::uint32_t cut = rows / 2;
    std::thread helper([&] { work(cut, rows); });
    work(std::uint32_t{0}, cut);
    helper.join();
}

}  // namespace pm::detail
