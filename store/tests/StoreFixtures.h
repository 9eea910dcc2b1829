#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pm::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

using Bytes = std::vector<std::uint8_t>;
Bytes readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);
void putLe32(Bytes& out, std::uint32_t v);
std::uint32_t le32(const Bytes& b, std::size_t at);

// Builds store files byte by byte from the layout tables, the way any program following the
// layout writes them, independently of the store's own writer.
struct RawEntry {
    std::uint32_t type;
    std::int32_t parent;
    std::uint32_t low;
    std::uint32_t high;
};
struct RawChild {
    std::uint32_t entry;
    std::int32_t id;
    std::string name;  // empty: unnamed
};
// Folder data: named children must come first, sorted; slots rounds up to 8 records.
Bytes folderData(const std::vector<RawChild>& children);

class RawFile {
public:
    // Appends data to the data area; returns its offset.
    std::uint32_t add(const Bytes& data);
    std::uint32_t addText(const std::string& text);  // with its NUL
    void entry(std::uint32_t type, std::int32_t parent, std::uint32_t low, std::uint32_t high) {
        m_entries.push_back({type, parent, low, high});
    }
    // A data entry whose data is `data`.
    void dataEntry(std::uint32_t type, std::int32_t parent, const Bytes& data);
    Bytes build() const;
    std::vector<RawEntry>& entries() { return m_entries; }

private:
    std::vector<RawEntry> m_entries;
    Bytes m_data;
};

// Reads a store file straight from the layout: every key path and every value path with its
// entry type and bytes (numbers as their 4 or 8 bytes). Unnamed children appear as "#%08x".
struct RawValue {
    std::uint32_t type;
    Bytes bytes;
    bool operator==(const RawValue&) const = default;
};
struct RawTree {
    std::vector<std::string> keys;  // in walk order, "" for the root
    std::map<std::string, RawValue> values;
};
RawTree readLayout(const Bytes& file);

}  // namespace pm::test
