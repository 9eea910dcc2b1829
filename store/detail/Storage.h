#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/StoreKeyPtr.h"
#include "store/detail/FolderNode.h"
#include "store/detail/StoreEntry.h"

namespace pm::detail {

// What file and memory storage share: the entry table, the open folder nodes and the tree
// operations on them. A backend supplies the data area. Keys hold the storage through a
// shared_ptr, so a handle that outlives its owner object stays valid; the storage closes itself
// when its last folder node is released.
class Storage : public std::enable_shared_from_this<Storage> {
public:
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    virtual ~Storage();

    bool isOpen() const { return m_open; }
    bool isReadOnly() const { return m_readOnly; }
    // Result of the close that happened when the last node went.
    bool closedCleanly() const { return m_closedCleanly; }
    const std::string& error() const { return m_error; }
    std::size_t openNodeCount() const { return m_nodes.size(); }

    // A new handle on the root folder, or null when the storage has no root.
    StoreKeyPtr rootKey();

    const StoreEntry& entry(std::uint32_t index) const { return m_entries[index]; }
    std::uint32_t entryCount() const { return static_cast<std::uint32_t>(m_entries.size()); }

    FolderNode* acquireNode(std::uint32_t entry);
    void releaseNode(FolderNode* node);
    StoreKeyPtr makeKey(FolderNode* node, bool readOnly);

    // Creates a child entry of `type` under the folder node; returns the record position.
    std::optional<std::size_t> createChild(FolderNode& folder, std::string_view name,
                                           EntryType type);
    // Removes the child at pos with everything below it; fails when any folder below is open.
    bool deleteChild(FolderNode& folder, std::size_t pos);
    bool writeValue(std::uint32_t entry, const void* data, std::size_t size);
    // The value's `size` bytes as `read` hands them over, piece by piece.
    bool writeValueFrom(std::uint32_t entry, std::uint64_t size,
                        const std::function<bool(void*, std::size_t)>& read);
    bool setNumber(std::uint32_t entry, std::uint64_t bits);
    // Reads up to size bytes of an entry's data from its start.
    bool readValue(std::uint32_t entry, void* buffer, std::size_t size);

protected:
    explicit Storage(bool readOnly);

    // Data-area access of the backend. Offsets count from the start of the data area.
    virtual bool readArea(std::uint64_t offset, void* buffer, std::size_t size) = 0;
    virtual bool writeData(std::uint32_t entry, const void* data, std::size_t size) = 0;
    // The same with the bytes handed over in pieces; gathered and written whole unless the
    // backend can do better.
    virtual bool writeDataFrom(std::uint32_t entry, std::uint64_t size,
                               const std::function<bool(void*, std::size_t)>& read);
    virtual void releaseData(std::uint32_t entry) = 0;
    // Writes back the table and data when the last node went; false when that failed.
    virtual bool finish() = 0;

    // Walks the whole tree from the root and checks every record against the table; false with
    // a reason in m_error when the file is malformed.
    bool validateTree();
    bool readEntryData(std::uint32_t entry, std::vector<unsigned char>& out);
    void fail(std::string why) { m_error = std::move(why); }

    std::vector<StoreEntry> m_entries;
    bool m_tableDirty = false;
    bool m_open = false;
    std::string m_error;

private:
    std::optional<std::uint32_t> allocEntry(EntryType type, std::uint32_t parent);
    void freeEntry(std::uint32_t index);
    bool subtreeHasOpenNode(std::uint32_t entry) const;
    bool freeSubtree(std::uint32_t entry, std::uint32_t depth);
    std::uint32_t depthOf(std::uint32_t entry) const;
    bool checkRecords(const FolderNode& node, std::vector<bool>* visited);

    bool m_readOnly;
    bool m_closedCleanly = true;
    std::uint32_t m_freeHint = 0;
    std::vector<std::unique_ptr<FolderNode>> m_nodes;
};

}  // namespace pm::detail
