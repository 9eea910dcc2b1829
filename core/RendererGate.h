#pragma once

#include <mutex>

namespace pm {

// Where renders and edits of one scene meet. Any number of renders run at once; an edit closes
// the gate to new renders, waits (polling, never blocking on a render) until the renders in
// flight have left, and keeps the gate closed until it is done. A render therefore never sees an
// edit half done, and a render thread that needs the edit's thread cannot deadlock with it.
//
// The gate lock is recursive: the thread that edits may render or edit again inside its edit. A
// thread must not edit a scene while it is rendering that same scene.
class RendererGate {
public:
    RendererGate() = default;
    RendererGate(const RendererGate&) = delete;
    RendererGate& operator=(const RendererGate&) = delete;

    void beginRender();
    void endRender();
    void lockForEdit();
    void unlockForEdit();

    int activeRenders() const;

    // A render call inside the gate for the guard's lifetime.
    class RenderGuard {
    public:
        explicit RenderGuard(RendererGate& gate) : m_gate(gate) { m_gate.beginRender(); }
        ~RenderGuard() { m_gate.endRender(); }
        RenderGuard(const RenderGuard&) = delete;
        RenderGuard& operator=(const RenderGuard&) = delete;

    private:
        RendererGate& m_gate;
    };

    // An edit with the gate closed for the guard's lifetime.
    class EditGuard {
    public:
        explicit EditGuard(RendererGate& gate) : m_gate(gate) { m_gate.lockForEdit(); }
        ~EditGuard() { m_gate.unlockForEdit(); }
        EditGuard(const EditGuard&) = delete;
        EditGuard& operator=(const EditGuard&) = delete;

    private:
        RendererGate& m_gate;
    };

private:
    std::recursive_mutex m_gateLock;
    mutable std::mutex m_counterLock;
    int m_renders = 0;
};

}  // namespace pm
