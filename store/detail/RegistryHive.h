#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pm::detail {

// The registry's own value types (the numbers are those the registry has always used).
enum class RegType : std::uint32_t { Sz = 1, Binary = 3, Dword = 4, Qword = 11 };

struct RegValue {
    std::string name;
    RegType type = RegType::Binary;
    std::vector<unsigned char> data;  // Sz: UTF-8 text without a terminating NUL
};

struct RegNode {
    std::string name;
    std::vector<std::shared_ptr<RegNode>> children;  // sorted without regard to ASCII case
    std::vector<RegValue> values;                    // in the order they were created
    bool deleted = false;

    std::shared_ptr<RegNode> child(std::string_view name) const;
    RegValue* value(std::string_view name);
    // Inserts at the sorted place.
    void addChild(std::shared_ptr<RegNode> node);
    void markDeleted();
};

// Key and value names compare without regard to ASCII case, as the registry does.
bool equalNoCase(std::string_view a, std::string_view b);
int compareNoCase(std::string_view a, std::string_view b);

// One registry file: a tree of keys and typed values, loaded whole and written back atomically
// (temporary file, flush, rename) when changed. Every open of the same file shares one hive.
class RegistryHive {
public:
    static std::shared_ptr<RegistryHive> open(const std::filesystem::path& file,
                                              std::string& error);
    ~RegistryHive();

    std::shared_ptr<RegNode> root() const { return m_root; }
    std::mutex& mutex() { return m_mutex; }
    void markDirty() { m_dirty = true; }
    // Writes the file when something changed; false with a reason in error().
    bool flush();
    const std::string& error() const { return m_error; }

    // Text form of a tree, and back; parse fails with a reason.
    static std::string serialize(const RegNode& root);
    static bool parse(std::string_view text, RegNode& root, std::string& why);

private:
    explicit RegistryHive(std::filesystem::path file);

    std::filesystem::path m_file;
    std::shared_ptr<RegNode> m_root;
    std::mutex m_mutex;
    bool m_dirty = false;
    std::string m_error;
};

}  // namespace pm::detail
