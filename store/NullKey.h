#pragma once

#include "store/StoreKey.h"

namespace pm {

// A read-only key with nothing in it: every read yields the caller's default, every write
// fails. Loading settings from it restores the factory defaults.
class NullKey final : public StoreKey {
public:
    static StoreKeyPtr create();

    void destroy() override;
    std::uint32_t typeCode() const override { return kTypeNull; }
    StoreKeyPtr openChildAt(int index) override;
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
    StoreKeyPtr openPath(std::string_view path) override;
    StoreKeyPtr createPath(std::string_view path) override;

private:
    NullKey();
    ~NullKey() = default;
};

}  // namespace pm
