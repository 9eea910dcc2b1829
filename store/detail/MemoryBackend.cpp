#include "store/detail/MemoryBackend.h"

#include <cstring>
#include <new>

namespace pm::detail {

namespace {
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint64_t kStep = 4096;
}  // namespace

MemoryBackend::MemoryBackend() : Storage(false) {}

std::shared_ptr<MemoryBackend> MemoryBackend::create() {
    std::shared_ptr<MemoryBackend> store(new MemoryBackend());
    store->m_entries.push_back(StoreEntry{EntryType::Folder, -1, 0, 0});
    store->m_open = true;
    return store;
}

bool MemoryBackend::readArea(std::uint64_t offset, void* buffer, std::size_t size) {
    if (offset + size > m_area.size()) {
        return false;
    }
    std::memcpy(buffer, m_area.data() + offset, size);
    return true;
}

bool MemoryBackend::reserve(std::uint64_t used) {
    if (used > kMax32) {
        return false;
    }
    try {
        m_area.reserve(static_cast<std::size_t>((used / kStep + 1) * kStep));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void MemoryBackend::shiftOffsets(std::uint32_t except, std::uint64_t from, std::int64_t delta) {
    for (std::uint32_t i = 0; i < m_entries.size(); ++i) {
        StoreEntry& e = m_entries[i];
        if (i != except && holdsData(e.type) && e.low >= from) {
            e.low = static_cast<std::uint32_t>(static_cast<std::int64_t>(e.low) + delta);
        }
    }
}

bool MemoryBackend::writeData(std::uint32_t entry, const void* data, std::size_t size) {
    StoreEntry& e = m_entries[entry];
    const std::uint64_t used = m_area.size();
    if (e.high == 0) {
        // New data goes to the end; data of size 0 takes no room anywhere.
        if (!reserve(used + size)) {
            return false;
        }
        const auto* p = static_cast<const unsigned char*>(data);
        m_area.insert(m_area.end(), p, p + size);
        e.low = static_cast<std::uint32_t>(used);
    } else {
        const std::uint64_t end = std::uint64_t{e.low} + e.high;
        const std::int64_t delta = static_cast<std::int64_t>(size) - e.high;
        if (!reserve(static_cast<std::uint64_t>(static_cast<std::int64_t>(used) + delta))) {
            return false;
        }
        const auto* p = static_cast<const unsigned char*>(data);
        const auto at = m_area.begin() + e.low;
        if (delta > 0) {
            m_area.insert(at + e.high, static_cast<std::size_t>(delta), 0);
        } else if (delta < 0) {
            m_area.erase(at + static_cast<std::ptrdiff_t>(size), at + e.high);
        }
        if (size > 0) {
            std::memcpy(m_area.data() + e.low, p, size);
        }
        shiftOffsets(entry, end, delta);
    }
    e.high = static_cast<std::uint32_t>(size);
    m_tableDirty = true;
    return true;
}

void MemoryBackend::releaseData(std::uint32_t entry) {
    StoreEntry& e = m_entries[entry];
    const std::uint64_t end = std::uint64_t{e.low} + e.high;
    m_area.erase(m_area.begin() + e.low, m_area.begin() + static_cast<std::ptrdiff_t>(end));
    shiftOffsets(entry, end, -static_cast<std::int64_t>(e.high));
    e.high = 0;
}

bool MemoryBackend::finish() {
    m_area.clear();
    m_area.shrink_to_fit();
    m_entries.clear();
    return true;
}

}  // namespace pm::detail
