#pragma once

#include <memory>

#include "store/StoreKeyPtr.h"

namespace pm {

namespace detail {
class MemoryBackend;
}

// A store held in memory, with the same tree and value rules as FileStorage.
class MemoryStorage {
public:
    MemoryStorage();
    MemoryStorage(const MemoryStorage&) = delete;
    MemoryStorage& operator=(const MemoryStorage&) = delete;
    ~MemoryStorage();

    // Starts an empty store with a root folder (dropping any previous one).
    bool open();
    bool isOpen() const;
    StoreKeyPtr root() const;
    // True when no other handle kept the storage open.
    bool close();

private:
    std::shared_ptr<detail::MemoryBackend> m_backend;
    StoreKeyPtr m_root;
};

}  // namespace pm
