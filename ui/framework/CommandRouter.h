#pragma once

#include <optional>
#include <vector>

namespace pm::ui {

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// Something that may carry out commands: a pane, or the main frame.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // The command's state when this target handles it; nothing passes it on.
    virtual std::optional<CommandState> commandState(int id) const = 0;
    // Carries it out; false passes it on.
    virtual bool runCommand(int id) = 0;
};

// Offers each command first to the target with the focus, then to the panes in their fixed order,
// then to the frame: the first that handles it wins. A command nobody handles is disabled.
class CommandRouter {
public:
    void setFrame(CommandTarget* frame) { m_frame = frame; }
    void addPane(CommandTarget* pane) { m_panes.push_back(pane); }
    void removePane(CommandTarget* pane);
    // Null when no pane has the focus.
    void setFocus(CommandTarget* focus) { m_focus = focus; }

    CommandState state(int id) const;
    // False when no target handled it (or the one that does has it disabled).
    bool run(int id);

private:
    std::vector<CommandTarget*> order() const;

    CommandTarget* m_frame = nullptr;
    CommandTarget* m_focus = nullptr;
    std::vector<CommandTarget*> m_panes;
};

}  // namespace pm::ui
