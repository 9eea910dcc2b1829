#include "store/StoreKey.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace pm {

namespace {

constexpr char kCompressedMarker[4] = {'Q', 'v', 's', 'Z'};
constexpr std::size_t kCompressedHeader = 8;
// zlib cannot expand data by more than about 1032:1; a header that claims more is corrupt.
constexpr std::uint64_t kMaxInflateRatio = 1032;

bool hasBackslash(std::string_view name) {
    return name.find('\\') != std::string_view::npos;
}

// Splits off the last component: "a\b\c" -> ("a\b", "c"); "c" -> ("", "c").
std::pair<std::string_view, std::string_view> splitLast(std::string_view path) {
    while (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    const auto pos = path.rfind('\\');
    if (pos == std::string_view::npos) {
        return {std::string_view{}, path};
    }
    return {path.substr(0, pos), path.substr(pos + 1)};
}

// Calls fn(component) for each non-empty component; false when one is too long or fn fails.
template <typename Fn>
bool forEachComponent(std::string_view path, Fn&& fn) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        auto end = path.find('\\', pos);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view component = path.substr(pos, end - pos);
        if (!component.empty()) {
            if (component.size() > StoreKey::kMaxComponentLength || !fn(component)) {
                return false;
            }
        }
        pos = end + 1;
    }
    return true;
}

StoreKeyPtr selfRef(StoreKey* key) {
    key->addRef();
    return StoreKeyPtr::adopt(key);
}

std::uint32_t readLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

template <typename Char>
void copyDefaultText(Char* buffer, std::size_t size, const Char* text) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::size_t n = 0;
    if (text != nullptr) {
        while (n + 1 < size && text[n] != 0) {
            buffer[n] = text[n];
            ++n;
        }
    }
    buffer[n] = 0;
}

}  // namespace

StoreKeyPtr::StoreKeyPtr(const StoreKeyPtr& other) : m_key(other.m_key) {
    if (m_key != nullptr) {
        m_key->addRef();
    }
}

bool StoreKeyPtr::reset() {
    StoreKey* key = std::exchange(m_key, nullptr);
    return key != nullptr && key->release() != 0;
}

int StoreKey::release() {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        destroy();
        return 1;
    }
    return 0;
}

StoreKeyPtr StoreKey::openChildAt(int index) {
    char name[kMaxComponentLength + 1];
    if (!childName(index, name, sizeof name)) {
        return nullptr;
    }
    return openChild(name);
}

int StoreKey::deleteChildAt(int index) {
    char name[kMaxComponentLength + 1];
    if (!childName(index, name, sizeof name)) {
        return 0;
    }
    return deleteChild(name);
}

int StoreKey::copyChild(std::string_view name, std::string_view newName, StoreKey* other,
                        std::string_view guard) {
    if (hasBackslash(name) || hasBackslash(newName)) {
        return 0;
    }
    StoreKey* dest = other != nullptr ? other : this;
    if (dest->isReadOnly()) {
        return 0;
    }
    StoreKeyPtr source = openChild(name);
    if (!source) {
        return 0;
    }
    StoreKeyPtr target = dest->createChild(newName);
    return target ? target->copyContent(*source, guard) : 0;
}

int StoreKey::moveChild(std::string_view name, std::string_view newName, StoreKey* other,
                        bool check) {
    if (hasBackslash(name) || hasBackslash(newName)) {
        return 0;
    }
    if (other == nullptr) {
        return renameChild(name, newName);
    }
    return movePath(name, newName, other, check);
}

StoreKeyPtr StoreKey::createChildIfWritable(std::string_view name) {
    return isReadOnly() ? nullptr : createChild(name);
}

int StoreKey::copyValue(std::string_view name, std::string_view newName, StoreKey* other) {
    StoreKey* dest = other != nullptr ? other : this;
    const ValueType type = valueType(name);
    const std::int64_t size = valueSize(name);
    if (type == ValueType::None || size < 0 || dest->isReadOnly()) {
        return 0;
    }
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    if (getRaw(type, name, data.data(), data.size(), nullptr) != size) {
        return 0;
    }
    return dest->setRaw(type, newName, data.data(), data.size());
}

int StoreKey::moveValue(std::string_view name, std::string_view newName, StoreKey* other) {
    if (other == nullptr) {
        return renameValue(name, newName);
    }
    return copyValue(name, newName, other) && deleteValue(name) ? 1 : 0;
}

StoreKeyPtr StoreKey::openPath(std::string_view path) {
    StoreKeyPtr current = selfRef(this);
    const bool ok = forEachComponent(path, [&](std::string_view component) {
        current = current->openChild(component);
        return static_cast<bool>(current);
    });
    return ok ? current : nullptr;
}

StoreKeyPtr StoreKey::createPath(std::string_view path) {
    if (isReadOnly()) {
        return openPath(path);
    }
    StoreKeyPtr current = selfRef(this);
    const bool ok = forEachComponent(path, [&](std::string_view component) {
        current = current->createChild(component);
        return static_cast<bool>(current);
    });
    return ok ? current : nullptr;
}

int StoreKey::deletePath(std::string_view path) {
    const auto [parentPath, leaf] = splitLast(path);
    if (leaf.empty() || isReadOnly()) {
        return 0;
    }
    StoreKeyPtr parent = openPath(parentPath);
    if (!parent) {
        return 0;
    }
    if (parent->valueType(leaf) != ValueType::None) {
        return parent->deleteValue(leaf);
    }
    return parent->deleteChild(leaf);
}

int StoreKey::renamePath(std::string_view path, std::string_view newPath) {
    return movePath(path, newPath, this, true);
}

int StoreKey::copyContent(StoreKey& source, std::string_view guard) {
    if (isReadOnly()) {
        return 0;
    }
    char name[kMaxComponentLength + 1];
    for (int i = 0; source.valueName(i, name, sizeof name); ++i) {
        if (!source.copyValue(name, name, this)) {
            return 0;
        }
    }
    for (int i = 0; source.childName(i, name, sizeof name); ++i) {
        StoreKeyPtr child = source.openChild(name);
        if (!child) {
            return 0;
        }
        if (!guard.empty() && child->hasGuard(guard)) {
            continue;
        }
        StoreKeyPtr target = createChild(name);
        if (!target || !target->copyContent(*child, guard)) {
            return 0;
        }
    }
    return 1;
}

int StoreKey::copyAll(StoreKey& source, bool check) {
    if (!check || source.typeCode() != typeCode()) {
        return copyContent(source, {});
    }
    const std::string guard = createGuard();
    if (guard.empty()) {
        return 0;
    }
    const int result = copyContent(source, guard);
    deleteGuard(guard);
    return result;
}

int StoreKey::copyPath(std::string_view path, StoreKey* other, std::string_view otherPath,
                       bool check) {
    StoreKey* dest = other != nullptr ? other : this;
    if (dest->isReadOnly()) {
        return 0;
    }
    StoreKeyPtr source = openPath(path);
    if (!source) {
        return 0;
    }
    StoreKeyPtr target = dest->createPath(otherPath);
    return target ? target->copyAll(*source, check) : 0;
}

int StoreKey::movePath(std::string_view path, std::string_view newPath, StoreKey* other,
                       bool check) {
    StoreKey* dest = other != nullptr ? other : this;
    if (isReadOnly() || dest->isReadOnly()) {
        return 0;
    }
    StoreKeyPtr source = openPath(path);
    if (!source || source.get() == this) {
        return 0;  // a key cannot move itself away from under its own handle
    }
    if (check && dest->typeCode() == typeCode()) {
        StoreKeyPtr parent = dest->createPath(splitLast(newPath).first);
        if (!parent) {
            return 0;
        }
        const std::string guard = parent->createGuard();
        if (guard.empty()) {
            return 0;
        }
        const bool inside = source->findGuard(guard) != 0;
        parent->deleteGuard(guard);
        if (inside) {
            return 0;
        }
        // Moving a key onto itself would copy it into itself and then delete it.
        const std::string selfGuard = source->createGuard();
        if (selfGuard.empty()) {
            return 0;
        }
        StoreKeyPtr existing = dest->openPath(newPath);
        const bool same = existing && existing->hasGuard(selfGuard);
        existing.reset();
        source->deleteGuard(selfGuard);
        if (same) {
            return 0;
        }
    }
    source.reset();
    if (!copyPath(path, dest, newPath, check)) {
        return 0;
    }
    return deletePath(path);
}

int StoreKey::copyIntoPath(std::string_view path, StoreKey& source, bool check) {
    if (isReadOnly()) {
        return 0;
    }
    StoreKeyPtr target = createPath(path);
    return target ? target->copyAll(source, check) : 0;
}

std::int64_t StoreKey::getWideString(std::string_view name, char16_t* buffer, std::size_t size,
                                     const char16_t* defaultText) {
    const std::int64_t bytes =
        getRaw(ValueType::WideString, name, buffer, size * sizeof(char16_t), nullptr);
    if (bytes < 0) {
        copyDefaultText(buffer, size, defaultText);
        return -1;
    }
    return bytes / static_cast<std::int64_t>(sizeof(char16_t));
}

std::int64_t StoreKey::getString(std::string_view name, char* buffer, std::size_t size,
                                 const char* defaultText) {
    const std::int64_t bytes = getRaw(ValueType::String, name, buffer, size, nullptr);
    if (bytes < 0) {
        copyDefaultText(buffer, size, defaultText);
        return -1;
    }
    return bytes;
}

int StoreKey::setWideString(std::string_view name, std::u16string_view text) {
    std::u16string data(text);
    return setRaw(ValueType::WideString, name, data.c_str(), (data.size() + 1) * sizeof(char16_t));
}

int StoreKey::setString(std::string_view name, std::string_view text) {
    std::string data(text);
    return setRaw(ValueType::String, name, data.c_str(), data.size() + 1);
}

std::int32_t StoreKey::getInt(std::string_view name, std::int32_t defaultValue) {
    std::int32_t value = 0;
    return getRaw(ValueType::Int, name, &value, sizeof value, nullptr) == sizeof value
               ? value
               : defaultValue;
}

int StoreKey::setInt(std::string_view name, std::int32_t value) {
    return setRaw(ValueType::Int, name, &value, sizeof value);
}

std::int64_t StoreKey::getInt64(std::string_view name, std::int64_t defaultValue) {
    std::int64_t value = 0;
    return getRaw(ValueType::Int64, name, &value, sizeof value, nullptr) == sizeof value
               ? value
               : defaultValue;
}

int StoreKey::setInt64(std::string_view name, std::int64_t value) {
    return setRaw(ValueType::Int64, name, &value, sizeof value);
}

double StoreKey::getDouble(std::string_view name, double defaultValue) {
    double value = 0;
    return getRaw(ValueType::Double, name, &value, sizeof value, nullptr) == sizeof value
               ? value
               : defaultValue;
}

int StoreKey::setDouble(std::string_view name, double value) {
    return setRaw(ValueType::Double, name, &value, sizeof value);
}

std::int64_t StoreKey::getBinary(std::string_view name, void* buffer, std::size_t size,
                                 const void* defaultData) {
    return getRaw(ValueType::Binary, name, buffer, size, defaultData);
}

int StoreKey::setBinary(std::string_view name, const void* data, std::size_t size) {
    return setRaw(ValueType::Binary, name, data, size);
}

int StoreKey::setBinaryFrom(std::string_view name, std::uint64_t size, const ReadPiece& read) {
    if (size > SIZE_MAX || !read) {
        return 0;
    }
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    return (data.empty() || read(data.data(), data.size())) &&
           setBinary(name, data.data(), data.size());
}

int StoreKey::getGuid(std::string_view name, Guid& out, const Guid& defaultGuid) {
    char text[39] = {};
    if (getString(name, text, sizeof text, nullptr) > 0) {
        text[38] = 0;
        const std::string_view view(text);
        if (view.size() > 36) {
            if (const auto guid = Guid::parse(view)) {
                out = *guid;
                return 1;
            }
        }
    }
    out = defaultGuid;
    return 0;
}

int StoreKey::setGuid(std::string_view name, const Guid& guid) {
    return setString(name, guid.toString());
}

std::int64_t StoreKey::getCompressed(std::string_view name, void* buffer, std::size_t size,
                                     const void* defaultData) {
    const auto fail = [&]() -> std::int64_t {
        if (defaultData != nullptr && buffer != nullptr && size > 0) {
            std::memmove(buffer, defaultData, size);
        }
        return -1;
    };
    unsigned char header[kCompressedHeader];
    if (getRaw(ValueType::Binary, name, header, sizeof header, nullptr) !=
            static_cast<std::int64_t>(sizeof header) ||
        std::memcmp(header, kCompressedMarker, 4) != 0) {
        return getBinary(name, buffer, size, defaultData);
    }
    const std::int64_t stored = valueSize(name);
    const std::uint64_t plainSize = readLe32(header + 4);
    if (stored < static_cast<std::int64_t>(kCompressedHeader) ||
        plainSize > static_cast<std::uint64_t>(stored) * kMaxInflateRatio + 64) {
        return fail();
    }
    std::vector<unsigned char> packed(static_cast<std::size_t>(stored));
    if (getRaw(ValueType::Binary, name, packed.data(), packed.size(), nullptr) != stored) {
        return fail();
    }
    std::vector<unsigned char> scratch;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (size < plainSize || buffer == nullptr) {
        scratch.resize(plainSize);
        out = scratch.data();
    }
    uLongf outLen = static_cast<uLongf>(plainSize);
    // A zero-length value still needs a valid destination for zlib.
    unsigned char dummy = 0;
    const int rc =
        uncompress(plainSize == 0 ? &dummy : out, &outLen, packed.data() + kCompressedHeader,
                   static_cast<uLong>(packed.size() - kCompressedHeader));
    if (rc != Z_OK || outLen != plainSize) {
        return fail();
    }
    if (out == scratch.data() && plainSize > 0) {
        const std::size_t n = std::min<std::size_t>(size, plainSize);
        if (n > 0) {
            std::memcpy(buffer, scratch.data(), n);
        }
        return static_cast<std::int64_t>(n);
    }
    return static_cast<std::int64_t>(plainSize);
}

int StoreKey::setCompressed(std::string_view name, const void* data, std::size_t size) {
    if (size > 0xFFFFFFFFu || (data == nullptr && size > 0)) {
        return 0;
    }
    uLongf packedLen = compressBound(static_cast<uLong>(size));
    std::vector<unsigned char> packed(kCompressedHeader + packedLen);
    std::memcpy(packed.data(), kCompressedMarker, 4);
    for (int i = 0; i < 4; ++i) {
        packed[4 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(size >> (8 * i));
    }
    const unsigned char empty = 0;
    if (compress2(packed.data() + kCompressedHeader, &packedLen,
                  size > 0 ? static_cast<const Bytef*>(data) : &empty, static_cast<uLong>(size),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        return 0;
    }
    return setBinary(name, packed.data(), kCompressedHeader + packedLen);
}

std::int64_t StoreKey::compressedSize(std::string_view name) {
    unsigned char header[kCompressedHeader];
    if (isCompressed(name) && getRaw(ValueType::Binary, name, header, sizeof header, nullptr) ==
                                  static_cast<std::int64_t>(sizeof header)) {
        return readLe32(header + 4);
    }
    return valueSize(name);
}

int StoreKey::isCompressed(std::string_view name) {
    unsigned char header[kCompressedHeader];
    return getRaw(ValueType::Binary, name, header, sizeof header, nullptr) ==
               static_cast<std::int64_t>(sizeof header) &&
           std::memcmp(header, kCompressedMarker, 4) == 0;
}

std::string StoreKey::createGuard() {
    if (isReadOnly()) {
        return {};
    }
    const auto now = static_cast<unsigned>(std::time(nullptr));
    for (unsigned counter = 100; counter >= 1; --counter) {
        char name[40];
        std::snprintf(name, sizeof name, "QvsKeyFlag%08x-%04x", now, counter);
        if (valueType(name) == ValueType::None && !openChild(name)) {
            if (!setInt(name, static_cast<std::int32_t>(kGuardMarker))) {
                return {};
            }
            return name;
        }
    }
    return {};
}

int StoreKey::deleteGuard(std::string_view name) {
    return hasGuard(name) ? deleteValue(name) : 0;
}

int StoreKey::hasGuard(std::string_view name) {
    return valueType(name) == ValueType::Int &&
           getInt(name, 0) == static_cast<std::int32_t>(kGuardMarker);
}

int StoreKey::findGuard(std::string_view name) {
    if (hasGuard(name)) {
        return 1;
    }
    char childName_[kMaxComponentLength + 1];
    for (int i = 0; childName(i, childName_, sizeof childName_); ++i) {
        StoreKeyPtr child = openChild(childName_);
        if (child && child->findGuard(name)) {
            return 1;
        }
    }
    return 0;
}

std::string StoreKey::readString(std::string_view name, std::string_view defaultText) {
    const std::int64_t size = valueSize(name);
    if (valueType(name) != ValueType::String || size < 0) {
        return std::string(defaultText);
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::int64_t got = getString(name, text.data(), text.size(), nullptr);
    if (got < 0) {
        return std::string(defaultText);
    }
    text.resize(static_cast<std::size_t>(got));
    // Stored strings carry their terminating NUL; one written by another program may not.
    const auto end = text.find('\0');
    if (end != std::string::npos) {
        text.resize(end);
    }
    return text;
}

std::u16string StoreKey::readWideString(std::string_view name, std::u16string_view defaultText) {
    // A byte count bounds the character count for every backend (the registry keeps UTF-8).
    const std::int64_t size = valueSize(name);
    if (size < 0) {
        return std::u16string(defaultText);
    }
    std::u16string text(static_cast<std::size_t>(size) + 1, u'\0');
    const std::int64_t got = getWideString(name, text.data(), text.size(), nullptr);
    if (got < 0) {
        return std::u16string(defaultText);
    }
    text.resize(static_cast<std::size_t>(got));
    const auto end = text.find(u'\0');
    if (end != std::u16string::npos) {
        text.resize(end);
    }
    return text;
}

}  // namespace pm
