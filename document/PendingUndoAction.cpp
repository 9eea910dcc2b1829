#include "document/PendingUndoAction.h"

#include <utility>

#include "document/UndoHistory.h"

namespace pm {

void PendingUndoAction::noteKeySet(int result) {
    if (result == 1) {
        note(kKeyframesModified);
    } else if (result == 2) {
        if (!m_pending || *m_pending == kKeyframesModified) {
            m_pending = kKeyframeAdded;
        } else if (*m_pending == kKeyframeAdded) {
            m_pending = kKeyframesAdded;
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
