#include "store/FileStorage.h"

#include "store/StoreKey.h"
#include "store/detail/FileBackend.h"

namespace pm {

FileStorage::FileStorage() = default;

FileStorage::~FileStorage() {
    close();
}

bool FileStorage::open(const std::filesystem::path& path, unsigned mode) {
    close();
    m_error.clear();
    m_backend = detail::FileBackend::open(path, mode, m_error);
    if (!m_backend) {
        return false;
    }
    m_root = m_backend->rootKey();
    return true;
}

bool FileStorage::isOpen() const {
    return m_backend && m_backend->isOpen();
}

StoreKeyPtr FileStorage::root() const {
    return isOpen() ? m_backend->rootKey() : nullptr;
}

bool FileStorage::close() {
    if (!m_backend) {
        return false;
    }
    m_root.reset();
    m_backend->closeIdle();  // a read-only file without a root holds no node
    const bool closed = !m_backend->isOpen() && m_backend->closedCleanly();
    if (!m_backend->isOpen() && !m_backend->closedCleanly()) {
        m_error = m_backend->error();
    }
    m_backend.reset();
    return closed;
}

const std::string& FileStorage::error() const {
    return m_backend && !m_backend->error().empty() ? m_backend->error() : m_error;
}

}  // namespace pm
