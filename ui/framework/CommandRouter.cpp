#include "ui/framework/CommandRouter.h"

#include <algorithm>

namespace pm::ui {

void CommandRouter::removePane(CommandTarget* pane) {
    m_panes.erase(std::remove(m_panes.begin(), m_panes.end(), pane), m_panes.end());
    if (m_focus == pane) {
        m_focus = nullptr;
    }
}

std::vector<CommandTarget*> CommandRouter::order() const {
    std::vector<CommandTarget*> targets;
    if (m_focus != nullptr) {
        targets.push_back(m_focus);
    }
    for (CommandTarget* pane : m_panes) {
        if (pane != m_focus) {
            targets.push_back(pane);
        }
    }
    if (m_frame != nullptr) {
        targets.push_back(m_frame);
    }
    return targets;
}

CommandState CommandRouter::state(int id) const {
    for (const CommandTarget* target : order()) {
        if (const auto s = target->commandState(id)) {
            return *s;
        }
    }
    return {};
}

bool CommandRouter::run(int id) {
    for (CommandTarget* target : order()) {
        const auto s = target->commandState(id);
        if (!s) {
            continue;
        }
        // The target that handles a command decides it; a disabled one does not pass it on.
        return s->enabled && target->runCommand(id);
    }
    return false;
}

}  // namespace pm::ui
