#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pm {

// The table through which every installed or per-user folder is named: a stored path may begin
// with "{NAME}" (TMP, PRG, CMN, IMG, CFG, USR), which expands to the folder. Stored paths
// separate with "/"; a "\" after the macro is read as "/" too, so paths written the old way keep
// working.
class PathMacros {
public:
    // Names compare without regard to case; a new setting replaces an older one of the same
    // name. Trailing separators of the value are dropped.
    void set(std::string_view name, std::string_view value);
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& entries() const { return m_entries; }

    // Replaces a leading "{NAME}" by its value. A path without a known leading macro is returned
    // unchanged.
    std::string expand(std::string_view path) const;

    // The path functions; each expands its argument first.
    bool fileExists(std::string_view path) const;
    // Creates every missing folder along the path; stops at the first failure.
    bool createFolderPath(std::string_view path) const;
    // Last-write time in nanoseconds since 1970, 0 when the file cannot be read.
    std::int64_t fileTime(std::string_view path) const;
    // Size in bytes, 0 when the file cannot be read.
    std::int64_t fileSize(std::string_view path) const;
    // Bytes available to this user on the file system holding the path, none when unknown.
    std::optional<std::uint64_t> freeSpace(std::string_view path) const;

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
};

}  // namespace pm
