#include "store/NullKey.h"

#include <cstring>

namespace pm {

NullKey::NullKey() : StoreKey(true) {}

StoreKeyPtr NullKey::create() {
    return StoreKeyPtr::adopt(new NullKey());
}

void NullKey::destroy() {
    delete this;
}

StoreKeyPtr NullKey::openChildAt(int) {
    return create();
}

StoreKeyPtr NullKey::openChild(std::string_view) {
    return create();
}

StoreKeyPtr NullKey::createChild(std::string_view) {
    return create();
}

int NullKey::deleteChild(std::string_view) {
    return 0;
}

int NullKey::childName(int, char*, std::size_t) {
    return 0;
}

int NullKey::renameChild(std::string_view, std::string_view) {
    return 0;
}

std::int64_t NullKey::getRaw(ValueType, std::string_view, void* buffer, std::size_t size,
                             const void* defaultData) {
    if (defaultData != nullptr && buffer != nullptr && size > 0) {
        std::memmove(buffer, defaultData, size);
    }
    return -1;
}

int NullKey::setRaw(ValueType, std::string_view, const void*, std::size_t) {
    return 0;
}

int NullKey::deleteValue(std::string_view) {
    return 0;
}

int NullKey::hasValue(std::string_view) {
    return 1;
}

int NullKey::valueName(int, char*, std::size_t) {
    return 0;
}

int NullKey::renameValue(std::string_view, std::string_view) {
    return 0;
}

std::int64_t NullKey::valueSize(std::string_view) {
    return -1;
}

ValueType NullKey::valueType(std::string_view) {
    return ValueType::None;
}

StoreKeyPtr NullKey::openPath(std::string_view) {
    return create();
}

StoreKeyPtr NullKey::createPath(std::string_view) {
    return nullptr;
}

}  // namespace pm
