#pragma once

#include <chrono>
#include <optional>

namespace pm {

// Elapsed, remaining and estimated total seconds for a progress display. The estimate is
// smoothed, weighting the history more while much remains, so the figure does not jump with every
// uneven step.
class ProgressClock {
public:
    using Clock = std::chrono::steady_clock;

    // Call on every display update with the operation's position (0..1).
    void update(double position, Clock::time_point now = Clock::now());

    int elapsed() const { return m_elapsed; }
    int remaining() const { return m_estimate - m_elapsed; }
    int estimated() const { return m_estimate; }
    bool started() const { return m_start.has_value(); }

private:
    std::optional<Clock::time_point> m_start;
    int m_elapsed = 0;
    int m_estimate = 0;
    bool m_hasEstimate = false;
};

}  // namespace pm
