#pragma once

#include <optional>

namespace pm {

class UndoHistory;

// The undo step of a keyframe edit in progress. A drag or a typed value sets keys many times;
// the whole edit becomes one step whose name says what it did: "Keyframes Modified" when it only
// changed keys, "Keyframe Added" when it added one, "Keyframes Added" when it added more.
class PendingUndoAction {
public:
    // `result` is what setting a key gave: 2 a key was added, 1 a key was modified, 0 nothing.
    void noteKeySet(int result);
    // Any other action of the edit, when none is pending yet.
    void note(int actionId);
    std::optional<int> pending() const { return m_pending; }
    // Records the pending action, once, and forgets it; nothing happens when none is pending.
    void finish(UndoHistory& history);
    void clear() { m_pending.reset(); }

private:
    std::optional<int> m_pending;
};

}  // namespace pm
