#include "core/ProgressClock.h"

#include <cmath>

namespace pm {

void ProgressClock::update(double position, Clock::time_point now) {
    if (position == 0.0) {
        return;
    }
    if (!m_start) {
        m_start = now;
        return;
    }
    const double ms = std::chrono::duration<double, std::milli>(now - *m_start).count();
    m_elapsed = static_cast<int>(std::lround(ms / 1000.0));
    const int raw = static_cast<int>(std::lround(ms / position / 1000.0));
    const int d = static_cast<int>((1.0 - position) * 100.0);
    int estimate = raw;
    if (m_hasEstimate) {
        const int smoothed = (raw + d * m_estimate) / (d + 1);
        estimate = smoothed < m_elapsed ? raw : smoothed;
    }
    m_estimate = estimate;
    m_hasEstimate = true;
}

}  // namespace pm
