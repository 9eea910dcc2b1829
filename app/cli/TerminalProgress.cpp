#include "app/cli/TerminalProgress.h"

#include <unistd.h>

#include <csignal>

namespace pm::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int) {
    g_interrupted = 1;
}

std::string speedText(double fps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f fps", fps);
    return text;
}

std::string clockText(int seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

}  // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() {
    return g_interrupted != 0;
}

TerminalProgress::TerminalProgress(FILE* out)
    : m_out(out),
      m_terminal(isatty(fileno(out)) != 0),
      m_started(std::chrono::steady_clock::now()) {}

void TerminalProgress::refresh() {
    if (interrupted()) {
        cancel();
    }
    const double position = this->position();
    const auto now = std::chrono::steady_clock::now();
    m_clock.update(position, now);
    const double elapsed = std::chrono::duration<double>(now - m_started).count();
    const long frames = m_frames ? m_frames() : 0;
    const double fps = elapsed > 0.0 ? static_cast<double>(frames) / elapsed : 0.0;
    const int percent = static_cast<int>(position * 100.0);
    // Nothing before the first frame, and no 100 % ahead of the result: a run that fails at
    // once or at the end must not look as if it had got somewhere. The command closes the line.
    if (percent <= 0 || position >= 1.0) {
        return;
    }
    if (m_terminal) {
        // At most ten updates a second: drawing is not free.
        if (now - m_lastDraw < std::chrono::milliseconds(100)) {
            return;
        }
        m_lastDraw = now;
        const std::string speed = m_frames ? speedText(fps) + "  " : std::string();
        std::fprintf(m_out, "\r%s %3d%%  %s%s left   ", title().c_str(), percent, speed.c_str(),
                     clockText(std::max(0, m_clock.remaining())).c_str());
        std::fflush(m_out);
    } else if (percent / 10 != m_lastDecile) {
        m_lastDecile = percent / 10;
        const std::string speed = m_frames ? speedText(fps) + ", " : std::string();
        std::fprintf(m_out, "%s %d%% (%s%s left)\n", title().c_str(), percent, speed.c_str(),
                     clockText(std::max(0, m_clock.remaining())).c_str());
        std::fflush(m_out);
    }
}

void TerminalProgress::clearLine() {
    if (m_terminal && m_lastDraw != std::chrono::steady_clock::time_point{}) {
        std::fprintf(m_out, "\r\033[K");
        std::fflush(m_out);
    }
}

void TerminalProgress::end() {
    if (m_terminal && active() && m_lastDraw != std::chrono::steady_clock::time_point{}) {
        // Clears the line rewritten in place, so that what follows starts on a clean line.
        std::fprintf(m_out, "\r\033[K");
        std::fflush(m_out);
    }
    ProgressReporter::end();
}

}  // namespace pm::cli
