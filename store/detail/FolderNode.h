#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace pm::detail {

struct ChildRecord {
    std::uint32_t entry = 0;
    std::int32_t id = 0;
    std::uint32_t nameOffset = 0;  // 0: unnamed
};

// The in-memory form of one folder entry's data: child records (named ones first, sorted
// byte-wise) and the name pool. Shared by every handle open on that folder.
class FolderNode {
public:
    FolderNode(std::uint32_t entry, std::uint32_t depth);

    // Reads folder data as found in a file; false with a reason when it is malformed. The entry
    // indices of the records are checked by the storage, which knows the table.
    bool load(const unsigned char* data, std::size_t size, std::string& why);
    std::vector<unsigned char> serialize() const;

    // "#" followed by 1 to 8 hexadecimal digits addresses a child by id.
    static std::optional<std::int32_t> parseId(std::string_view name);

    // Position of the child called `name` (a name or a "#" id), or nullopt.
    std::optional<std::size_t> find(std::string_view name) const;
    // The name a child is listed under: its name, or "#%08x" of its id.
    std::string displayName(std::size_t pos) const;
    std::string_view nameAt(std::size_t pos) const;

    // Adds a child for `entry`: named ones at their sorted place, unnamed ones (also names that
    // are ids) at the end. Returns its position, or nullopt when no room is left.
    std::optional<std::size_t> insert(std::string_view name, std::uint32_t entry);
    void remove(std::size_t pos);
    // Gives the child at pos a new name; false when the name is in use or is an id.
    bool rename(std::size_t pos, std::string_view newName);

    const std::vector<ChildRecord>& records() const { return m_records; }
    std::uint32_t entry() const { return m_entry; }
    std::uint32_t depth() const { return m_depth; }
    bool dirty() const { return m_dirty; }
    // Changes whenever children are added, removed or renamed; keeps enumeration caches honest.
    std::uint64_t generation() const { return m_generation; }

    int refs = 0;

private:
    // Position where `name` is or would be inserted among the named records.
    std::size_t lowerBound(std::string_view name) const;
    std::uint32_t appendName(std::string_view name);
    void removeName(std::uint32_t offset);
    std::optional<std::int32_t> nextId();
    void touch();

    std::uint32_t m_entry;
    std::uint32_t m_depth;
    std::vector<ChildRecord> m_records;
    std::size_t m_namedCount = 0;
    std::vector<char> m_pool;
    std::uint64_t m_slotBytes = 0;  // record slots reserved before the pool
    std::unordered_set<std::int32_t> m_ids;
    std::int32_t m_nextId = -2;
    bool m_dirty = false;
    std::uint64_t m_generation = 0;
};

}  // namespace pm::detail
