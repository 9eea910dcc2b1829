#include "document/PendingUndoAction.h"

#include <utility>

#include "core/MessageIds.h"
#include "document/UndoHistory.h"

namespace pm {

void PendingUndoAction::noteKeySet(int result) {
    if (result == 1) {
        note(msg::kKeyframesModified);
    } else if (result == 2) {
        if (!m_pending || *m_pending == msg::kKeyframesModified) {
            m_pending = msg::kKeyframeAdded;
        } else if (*m_pending == msg::kKeyframeAdded) {
            m_pending = msg::kKeyframesAdded;
        }
    }
}

void PendingUndoAction::note(int actionId) {
    if (!m_pending) {
        m_pending = actionId;
    }
}

void PendingUndoAction::finish(UndoHistory& history) {
    if (const std::optional<int> action = std::exchange(m_pending, std::nullopt)) {
        history.record(*action);
    }
}

}  // namespace pm
