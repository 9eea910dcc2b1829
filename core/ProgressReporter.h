#pragma once

#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/TextFormat.h"

namespace pm {

// How long operations (saving, loading, rendering to file) say how far they are and learn whether
// the user cancelled. Steps nest: a step of weight w covers w percent of the step around it.
// This base keeps the arithmetic; a progress window or a terminal line overrides the virtual
// operations to show it and calls the base. Worker threads may call every operation.
class ProgressReporter {
public:
    virtual ~ProgressReporter() = default;

    virtual void begin(std::string_view title);
    virtual void end();
    // Fails for a weight of 0 or less; begins first when not active.
    virtual bool beginStep(double weightPercent, std::optional<std::string> status = std::nullopt);
    // Moves to the step's end and returns to the enclosing step (ending at the outermost level);
    // a failed step cancels the operation. Returns whether to go on.
    virtual bool endStep(bool success);
    virtual void enableCancel(bool enable);
    virtual void setStatusFormat(std::string_view format, std::initializer_list<TextArg> args);
    virtual void setStatusText(std::string text);
    virtual std::string statusText() const;
    virtual void refresh();

    // Sets the position to a percentage of the present step; returns whether to go on.
    bool setFraction(double percent);
    // Percent of the present step still to do.
    double remaining() const;
    // From the user: the next setFraction or endStep answers stop.
    void cancel();

    bool cancelled() const;
    bool active() const;
    bool cancelEnabled() const;
    // Fraction 0..1 of the whole operation.
    double position() const;
    std::string title() const;

private:
    struct Frame {
        double start;
        double scale;
        double span;
    };

    mutable std::mutex m_mutex;
    double m_start = 0.0;
    double m_scale = 0.01;
    double m_span = 1.0;
    double m_position = 0.0;
    bool m_cancelled = false;
    bool m_active = false;
    bool m_cancelEnabled = true;
    std::vector<Frame> m_saved;
    std::string m_status;
    std::string m_title;
};

}  // namespace pm
