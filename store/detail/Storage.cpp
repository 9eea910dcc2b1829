#include "store/detail/Storage.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "store/detail/StorageKey.h"

namespace pm::detail {

Storage::Storage(bool readOnly) : m_readOnly(readOnly) {}

Storage::~Storage() = default;

StoreKeyPtr Storage::rootKey() {
    if (!m_open || m_entries.empty()) {
        return nullptr;
    }
    FolderNode* node = acquireNode(0);
    return node ? makeKey(node, m_readOnly) : nullptr;
}

StoreKeyPtr Storage::makeKey(FolderNode* node, bool readOnly) {
    return StoreKeyPtr::adopt(new StorageKey(shared_from_this(), node, readOnly || m_readOnly));
}

std::uint32_t Storage::depthOf(std::uint32_t entry) const {
    // Parents of reachable entries were checked to form a tree, so this ends at the root.
    std::uint32_t depth = 0;
    while (entry != 0 && depth <= kMaxDepth) {
        entry = static_cast<std::uint32_t>(m_entries[entry].parent);
        ++depth;
    }
    return depth;
}

bool Storage::readEntryData(std::uint32_t entry, std::vector<unsigned char>& out) {
    const StoreEntry& e = m_entries[entry];
    out.resize(e.high);
    return e.high == 0 || readArea(e.low, out.data(), out.size());
}

bool Storage::checkRecords(const FolderNode& node, std::vector<bool>* visited) {
    for (const ChildRecord& r : node.records()) {
        if (r.entry == 0 || r.entry >= m_entries.size()) {
            fail("a child record points outside the entry table");
            return false;
        }
        const StoreEntry& e = m_entries[r.entry];
        if (e.type == EntryType::Free || e.parent != static_cast<std::int32_t>(node.entry())) {
            fail("a child record points to an entry of another folder or a free entry");
            return false;
        }
        if (visited != nullptr) {
            if ((*visited)[r.entry]) {
                fail("an entry is listed as a child twice");
                return false;
            }
            (*visited)[r.entry] = true;
        }
    }
    return true;
}

FolderNode* Storage::acquireNode(std::uint32_t entry) {
    for (auto& n : m_nodes) {
        if (n->entry() == entry) {
            ++n->refs;
            return n.get();
        }
    }
    if (!m_open || entry >= m_entries.size() || m_entries[entry].type != EntryType::Folder) {
        return nullptr;
    }
    auto node = std::make_unique<FolderNode>(entry, depthOf(entry));
    std::vector<unsigned char> data;
    std::string why;
    if (!readEntryData(entry, data) || !node->load(data.data(), data.size(), why) ||
        !checkRecords(*node, nullptr)) {
        return nullptr;
    }
    node->refs = 1;
    m_nodes.push_back(std::move(node));
    return m_nodes.back().get();
}

void Storage::releaseNode(FolderNode* node) {
    if (--node->refs > 0) {
        return;
    }
    bool ok = true;
    if (node->dirty() && !m_readOnly) {
        const std::vector<unsigned char> data = node->serialize();
        ok = writeData(node->entry(), data.data(), data.size());
    }
    m_nodes.erase(std::find_if(m_nodes.begin(), m_nodes.end(),
                               [node](const auto& n) { return n.get() == node; }));
    if (!ok) {
        m_closedCleanly = false;
    }
    if (m_nodes.empty() && m_open) {
        m_open = false;
        if (!finish()) {
            m_closedCleanly = false;
        }
    }
}

std::optional<std::uint32_t> Storage::allocEntry(EntryType type, std::uint32_t parent) {
    std::uint32_t index = m_freeHint;
    while (index < m_entries.size() && m_entries[index].type != EntryType::Free) {
        ++index;
    }
    if (index == m_entries.size()) {
        if (m_entries.size() >= kMaxEntries) {
            return std::nullopt;
        }
        m_entries.emplace_back();
    }
    m_freeHint = index + 1;
    m_entries[index] = StoreEntry{type, static_cast<std::int32_t>(parent), 0, 0};
    m_tableDirty = true;
    return index;
}

void Storage::freeEntry(std::uint32_t index) {
    if (holdsData(m_entries[index].type) && m_entries[index].high > 0) {
        releaseData(index);
    }
    m_entries[index] = StoreEntry{EntryType::Free, 0, 0, 0};
    m_freeHint = std::min(m_freeHint, index);
    m_tableDirty = true;
}

std::optional<std::size_t> Storage::createChild(FolderNode& folder, std::string_view name,
                                                EntryType type) {
    if (type == EntryType::Folder && folder.depth() + 1 >= kMaxDepth) {
        return std::nullopt;
    }
    const auto index = allocEntry(type, folder.entry());
    if (!index) {
        return std::nullopt;
    }
    const auto pos = folder.insert(name, *index);
    if (!pos) {
        freeEntry(*index);
    }
    return pos;
}

bool Storage::subtreeHasOpenNode(std::uint32_t entry) const {
    for (const auto& n : m_nodes) {
        std::uint32_t e = n->entry();
        for (std::uint32_t steps = 0; steps <= kMaxDepth; ++steps) {
            if (e == entry) {
                return true;
            }
            if (e == 0) {
                break;
            }
            e = static_cast<std::uint32_t>(m_entries[e].parent);
        }
    }
    return false;
}

bool Storage::freeSubtree(std::uint32_t entry, std::uint32_t depth) {
    if (m_entries[entry].type == EntryType::Folder) {
        if (depth > kMaxDepth) {
            return false;
        }
        FolderNode node(entry, depth);
        std::vector<unsigned char> data;
        std::string why;
        if (!readEntryData(entry, data) || !node.load(data.data(), data.size(), why) ||
            !checkRecords(node, nullptr)) {
            return false;
        }
        for (const ChildRecord& r : node.records()) {
            if (!freeSubtree(r.entry, depth + 1)) {
                return false;
            }
        }
    }
    freeEntry(entry);
    return true;
}

bool Storage::deleteChild(FolderNode& folder, std::size_t pos) {
    const std::uint32_t entry = folder.records()[pos].entry;
    if (subtreeHasOpenNode(entry) || !freeSubtree(entry, folder.depth() + 1)) {
        return false;
    }
    folder.remove(pos);
    return true;
}

bool Storage::writeValue(std::uint32_t entry, const void* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) {
        return false;
    }
    return writeData(entry, data, size);
}

bool Storage::writeValueFrom(std::uint32_t entry, std::uint64_t size,
                             const std::function<bool(void*, std::size_t)>& read) {
    if (size > 0xFFFFFFFFu) {
        return false;
    }
    return writeDataFrom(entry, size, read);
}

bool Storage::writeDataFrom(std::uint32_t entry, std::uint64_t size,
                            const std::function<bool(void*, std::size_t)>& read) {
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    return (data.empty() || read(data.data(), data.size())) &&
           writeData(entry, data.data(), data.size());
}

bool Storage::setNumber(std::uint32_t entry, std::uint64_t bits) {
    StoreEntry& e = m_entries[entry];
    e.low = static_cast<std::uint32_t>(bits);
    e.high = e.type == EntryType::Int ? 0 : static_cast<std::uint32_t>(bits >> 32);
    m_tableDirty = true;
    return true;
}

bool Storage::readValue(std::uint32_t entry, void* buffer, std::size_t size) {
    const StoreEntry& e = m_entries[entry];
    if (size > e.high) {
        return false;
    }
    return size == 0 || readArea(e.low, buffer, size);
}

bool Storage::validateTree() {
    if (m_entries.empty()) {
        return true;
    }
    if (m_entries[0].type != EntryType::Folder) {
        fail("the first entry is not the root folder");
        return false;
    }
    std::vector<bool> visited(m_entries.size(), false);
    visited[0] = true;
    std::deque<std::pair<std::uint32_t, std::uint32_t>> pending{{0, 0}};
    std::vector<unsigned char> data;
    while (!pending.empty()) {
        const auto [entry, depth] = pending.front();
        pending.pop_front();
        if (depth >= kMaxDepth) {
            fail("folders are nested too deeply");
            return false;
        }
        FolderNode node(entry, depth);
        std::string why;
        if (!readEntryData(entry, data)) {
            fail("a folder's data cannot be read");
            return false;
        }
        if (!node.load(data.data(), data.size(), why)) {
            fail(why);
            return false;
        }
        if (!checkRecords(node, &visited)) {
            return false;
        }
        for (const ChildRecord& r : node.records()) {
            if (m_entries[r.entry].type == EntryType::Folder) {
                pending.emplace_back(r.entry, depth + 1);
            }
        }
    }
    return true;
}

}  // namespace pm::detail
