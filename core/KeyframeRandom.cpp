#include "core/KeyframeRandom.h"

#include <chrono>
#include <cstdlib>

namespace pm {

void KeyframeRandom::seed(unsigned value) {
    std::srand(value);
}

void KeyframeRandom::seedFromClock() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    seed(static_cast<unsigned>(ms.count()));
}

int KeyframeRandom::nextRaw() {
    return std::rand() & 0x7FFF;
}

double KeyframeRandom::next() {
    // glibc's RAND_MAX is 2^31 - 1; keeping the low 15 bits gives the 0..32767 range the motion
    // formulas are written for, so r stays within [0, 1].
    return static_cast<double>(std::rand() & 0x7FFF) / 32767.0;
}

}  // namespace pm
