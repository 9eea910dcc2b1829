#include "core/ProgressReporter.h"

namespace pm {

void ProgressReporter::begin(std::string_view title) {
    std::lock_guard lock(m_mutex);
    m_start = 0.0;
    m_scale = 0.01;
    m_span = 1.0;
    m_position = 0.0;
    m_cancelled = false;
    m_active = true;
    m_saved.clear();
    m_title = title;
}

void ProgressReporter::end() {
    std::lock_guard lock(m_mutex);
    m_saved.clear();
    m_active = false;
}

bool ProgressReporter::beginStep(double weightPercent, std::optional<std::string> status) {
    if (!(weightPercent > 0.0)) {
        return false;
    }
    if (!active()) {
        begin(title());
    }
    {
        std::lock_guard lock(m_mutex);
        m_saved.push_back({m_start, m_scale, m_span});
        m_start = m_position;
        m_span = weightPercent * m_scale * m_span;
        m_scale = 0.01;
    }
    if (status) {
        setStatusText(std::move(*status));
    }
    return true;
}

bool ProgressReporter::endStep(bool success) {
    bool outermost = false;
    bool goOn = false;
    {
        std::lock_guard lock(m_mutex);
        if (!success) {
            m_cancelled = true;
        }
        m_position = m_start + m_span;
        goOn = !m_cancelled;
    }
    refresh();
    {
        std::lock_guard lock(m_mutex);
        if (m_saved.empty()) {
            outermost = true;
        } else {
            const Frame frame = m_saved.back();
            m_saved.pop_back();
            m_start = frame.start;
            m_scale = frame.scale;
            m_span = frame.span;
        }
    }
    if (outermost) {
        end();
    }
    return goOn;
}

void ProgressReporter::enableCancel(bool enable) {
    std::lock_guard lock(m_mutex);
    m_cancelEnabled = enable;
}

void ProgressReporter::setStatusFormat(std::string_view format,
                                       std::initializer_list<TextArg> args) {
    setStatusText(formatText(format, args));
}

void ProgressReporter::setStatusText(std::string text) {
    std::lock_guard lock(m_mutex);
    m_status = std::move(text);
}

std::string ProgressReporter::statusText() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

void ProgressReporter::refresh() {}

bool ProgressReporter::setFraction(double percent) {
    bool goOn = false;
    {
        std::lock_guard lock(m_mutex);
        m_position = m_start + m_span * m_scale * percent;
        goOn = !m_cancelled;
    }
    refresh();
    return goOn;
}

double ProgressReporter::remaining() const {
    std::lock_guard lock(m_mutex);
    if (m_span <= 0.0) {
        return 0.0;
    }
    return (1.0 - (m_position - m_start) / m_span) / m_scale;
}

void ProgressReporter::cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
}

bool ProgressReporter::cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool ProgressReporter::active() const {
    std::lock_guard lock(m_mutex);
    return m_active;
}

bool ProgressReporter::cancelEnabled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelEnabled;
}

double ProgressReporter::position() const {
    std::lock_guard lock(m_mutex);
    return m_position;
}

std::string ProgressReporter::title() const {
    std::lock_guard lock(m_mutex);
    return m_title;
}

}  // namespace pm
