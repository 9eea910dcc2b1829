#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "store/StoreKey.h"

namespace pm {

namespace detail {
class RegistryHive;
struct RegNode;
}  // namespace detail

// A key of the program's own typed registry. The user root lives in
// $XDG_CONFIG_HOME/Korvane/Pictomove/ (default ~/.config), the read-only machine root under the
// install prefix's etc/. Key and value names ignore ASCII case; values keep the registry types
// (string, 32-bit, 64-bit, binary): int64 and double share the 64-bit type, both string kinds
// are one UTF-8 string type. Changes reach the file, written atomically, when the last handle
// on it goes or on flush().
class RegistryKey final : public StoreKey {
public:
    enum class Root { User, Machine };

    static std::filesystem::path rootFile(Root root);
    // The machine root is always read-only. Null, with a reason in *error, when the file is
    // malformed; a missing file is an empty registry.
    static StoreKeyPtr openRoot(Root root, bool readOnly, std::string* error = nullptr);
    static StoreKeyPtr openFile(const std::filesystem::path& file, bool readOnly,
                                std::string* error = nullptr);

    // Writes pending changes of this key's registry file now.
    bool flush();

    void destroy() override;
    std::uint32_t typeCode() const override { return kTypeRegistry; }
    StoreKeyPtr openChild(std::string_view name) override;
    StoreKeyPtr createChild(std::string_view name) override;
    int deleteChild(std::string_view name) override;
    int childName(int index, char* buffer, std::size_t size) override;
    int renameChild(std::string_view name, std::string_view newName) override;
    std::int64_t getRaw(ValueType type, std::string_view name, void* buffer, std::size_t size,
                        const void* defaultData) override;
    int setRaw(ValueType type, std::string_view name, const void* data, std::size_t size) override;
    int deleteValue(std::string_view name) override;
    int hasValue(std::string_view name) override;
    int valueName(int index, char* buffer, std::size_t size) override;
    int renameValue(std::string_view name, std::string_view newName) override;
    std::int64_t valueSize(std::string_view name) override;
    ValueType valueType(std::string_view name) override;

private:
    RegistryKey(std::shared_ptr<detail::RegistryHive> hive, std::shared_ptr<detail::RegNode> node,
                bool readOnly);
    ~RegistryKey();

    std::shared_ptr<detail::RegistryHive> m_hive;
    std::shared_ptr<detail::RegNode> m_node;
};

}  // namespace pm
