#pragma once

#include <utility>

namespace pm {

class StoreKey;

// Owning handle to a reference-counted StoreKey: copying adds a reference, destruction releases
// one, so callers never call release() by hand.
class StoreKeyPtr {
public:
    StoreKeyPtr() = default;
    StoreKeyPtr(std::nullptr_t) {}
    // Takes over one reference that the caller already holds.
    static StoreKeyPtr adopt(StoreKey* key) {
        StoreKeyPtr p;
        p.m_key = key;
        return p;
    }
    StoreKeyPtr(const StoreKeyPtr& other);
    StoreKeyPtr(StoreKeyPtr&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    StoreKeyPtr& operator=(StoreKeyPtr other) noexcept {
        std::swap(m_key, other.m_key);
        return *this;
    }
    ~StoreKeyPtr() { reset(); }

    // Releases the reference; returns true when that destroyed the key.
    bool reset();

    StoreKey* get() const { return m_key; }
    StoreKey* operator->() const { return m_key; }
    StoreKey& operator*() const { return *m_key; }
    explicit operator bool() const { return m_key != nullptr; }

private:
    StoreKey* m_key = nullptr;
};

}  // namespace pm
