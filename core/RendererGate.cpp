#include "core/RendererGate.h"

#include <chrono>
#include <thread>

namespace pm {

namespace {

constexpr auto kEditPoll = std::chrono::milliseconds(2);

}  // namespace

void RendererGate::beginRender() {
    // Passing through the gate lock makes new renders wait while an edit holds it.
    std::lock_guard gate(m_gateLock);
    std::lock_guard counter(m_counterLock);
    ++m_renders;
}

void RendererGate::endRender() {
    std::lock_guard counter(m_counterLock);
    --m_renders;
}

void RendererGate::lockForEdit() {
    m_gateLock.lock();
    for (;;) {
        {
            std::lock_guard counter(m_counterLock);
            if (m_renders == 0) {
                return;
            }
        }
        std::this_thread::sleep_for(kEditPoll);
    }
}

void RendererGate::unlockForEdit() {
    m_gateLock.unlock();
}

int RendererGate::activeRenders() const {
    std::lock_guard counter(m_counterLock);
    return m_renders;
}

}  // namespace pm
