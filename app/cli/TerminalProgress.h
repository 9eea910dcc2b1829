#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "core/ProgressClock.h"
#include "core/ProgressReporter.h"

namespace pm::cli {

// Progress of a long command on standard error: one line rewritten in place on a terminal
// (percent, frames per second, time left), a plain line every ten percent otherwise. Ctrl-C
// (see installInterruptHandler) cancels.
class TerminalProgress : public ProgressReporter {
public:
    explicit TerminalProgress(FILE* out = stderr);
    void refresh() override;
    void end() override;

    // Clears the line rewritten in place, for a message between two updates.
    void clearLine();
    // Counts the frames done so far, for the frames-per-second figure (shown only with one).
    void setFrameCounter(std::function<long()> counter) { m_frames = std::move(counter); }

private:
    FILE* m_out;
    bool m_terminal;
    ProgressClock m_clock;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastDraw;
    int m_lastDecile = -1;
    std::function<long()> m_frames;
};

// Ctrl-C sets a flag that every TerminalProgress turns into a cancel at its next refresh.
void installInterruptHandler();
bool interrupted();

}  // namespace pm::cli
