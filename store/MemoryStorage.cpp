#include "store/MemoryStorage.h"

#include "store/StoreKey.h"
#include "store/detail/MemoryBackend.h"

namespace pm {

MemoryStorage::MemoryStorage() = default;

MemoryStorage::~MemoryStorage() {
    close();
}

bool MemoryStorage::open() {
    close();
    m_backend = detail::MemoryBackend::create();
    m_root = m_backend->rootKey();
    return static_cast<bool>(m_root);
}

bool MemoryStorage::isOpen() const {
    return m_backend && m_backend->isOpen();
}

StoreKeyPtr MemoryStorage::root() const {
    return isOpen() ? m_backend->rootKey() : nullptr;
}

bool MemoryStorage::close() {
    if (!m_backend) {
        return false;
    }
    m_root.reset();
    const bool closed = !m_backend->isOpen();
    m_backend.reset();
    return closed;
}

}  // namespace pm
