#pragma once

#include <memory>
#include <optional>

#include "store/StoreKey.h"
#include "store/detail/StoreEntry.h"

namespace pm::detail {

class FolderNode;
class Storage;

// A handle on one folder of a file or memory storage.
class StorageKey final : public StoreKey {
public:
    StorageKey(std::shared_ptr<Storage> storage, FolderNode* node, bool readOnly);

    void destroy() override;
    std::uint32_t typeCode() const override { return kTypeStorage; }
    StoreKeyPtr openChild(std::string_view name) override;
    StoreKeyPtr createChild(std::string_view name) override;
    int deleteChild(std::string_view name) override;
    int childName(int index, char* buffer, std::size_t size) override;
    int renameChild(std::string_view name, std::string_view newName) override;
    std::int64_t getRaw(ValueType type, std::string_view name, void* buffer, std::size_t size,
                        const void* defaultData) override;
    int setRaw(ValueType type, std::string_view name, const void* data, std::size_t size) override;
    int setBinaryFrom(std::string_view name, std::uint64_t size, const ReadPiece& read) override;
    int deleteValue(std::string_view name) override;
    int hasValue(std::string_view name) override;
    int valueName(int index, char* buffer, std::size_t size) override;
    int renameValue(std::string_view name, std::string_view newName) override;
    std::int64_t valueSize(std::string_view name) override;
    ValueType valueType(std::string_view name) override;

private:
    // The entry of the value `name` of type `wanted`, made when missing; none when it cannot be.
    std::optional<std::uint32_t> valueEntry(std::string_view name, EntryType wanted);
    ~StorageKey();

    struct EnumCache {
        std::size_t pos = 0;
        int ordinal = 0;
        std::uint64_t generation = ~std::uint64_t{0};
    };

    // Record position of a child whose entry is (or is not) a folder.
    std::optional<std::size_t> findChild(std::string_view name, bool folder) const;
    int nameAt(int index, bool folders, EnumCache& cache, char* buffer, std::size_t size);
    int renameRecord(std::string_view name, std::string_view newName, bool folder);

    std::shared_ptr<Storage> m_storage;
    FolderNode* m_node;
    EnumCache m_keyCache;
    EnumCache m_valueCache;
};

}  // namespace pm::detail
