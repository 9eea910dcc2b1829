#include "store/RegistryKey.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "store/detail/RegistryHive.h"

#ifndef PICTOMOVE_INSTALL_PREFIX
#define PICTOMOVE_INSTALL_PREFIX "/usr/local"
#endif

namespace pm {

using detail::RegNode;
using detail::RegType;
using detail::RegValue;

namespace {

constexpr char kRegistryFileName[] = "registry.conf";

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xF5) {
            len = c < 0xE0 ? 2 : (c < 0xF0 ? 3 : 4);
            if (i + len <= text.size()) {
                cp = c & (0x3F >> (len - 1));
                for (std::size_t k = 1; k < len; ++k) {
                    const auto cc = static_cast<unsigned char>(text[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = k;
                        break;
                    }
                    cp = cp << 6 | (cc & 0x3F);
                }
            } else {
                len = 1;
            }
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
                cp = 0xFFFD;
            }
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

RegType regTypeFor(ValueType t) {
    switch (t) {
        case ValueType::Int:
            return RegType::Dword;
        case ValueType::Int64:
        case ValueType::Double:
            return RegType::Qword;
        case ValueType::String:
        case ValueType::WideString:
            return RegType::Sz;
        case ValueType::Binary:
        case ValueType::None:
            break;
    }
    return RegType::Binary;
}

bool badName(std::string_view name) {
    return name.find('\\') != std::string_view::npos;
}

int copyName(const std::string& name, char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) {
        const std::size_t n = std::min(name.size(), size - 1);
        std::memcpy(buffer, name.data(), n);
        buffer[n] = '\0';
    }
    return 1;
}

}  // namespace

std::filesystem::path RegistryKey::rootFile(Root root) {
    if (root == Root::Machine) {
        return std::filesystem::path(PICTOMOVE_INSTALL_PREFIX) / "etc" / "Korvane" / "Pictomove" /
               kRegistryFileName;
    }
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "Korvane" / "Pictomove" / kRegistryFileName;
}

StoreKeyPtr RegistryKey::openRoot(Root root, bool readOnly, std::string* error) {
    return openFile(rootFile(root), readOnly || root == Root::Machine, error);
}

StoreKeyPtr RegistryKey::openFile(const std::filesystem::path& file, bool readOnly,
                                  std::string* error) {
    std::string why;
    auto hive = detail::RegistryHive::open(file, why);
    if (!hive) {
        if (error != nullptr) {
            *error = why;
        }
        return nullptr;
    }
    auto node = hive->root();
    return StoreKeyPtr::adopt(new RegistryKey(std::move(hive), std::move(node), readOnly));
}

RegistryKey::RegistryKey(std::shared_ptr<detail::RegistryHive> hive,
                         std::shared_ptr<detail::RegNode> node, bool readOnly)
    : StoreKey(readOnly), m_hive(std::move(hive)), m_node(std::move(node)) {}

RegistryKey::~RegistryKey() = default;

void RegistryKey::destroy() {
    delete this;
}

bool RegistryKey::flush() {
    return m_hive->flush();
}

StoreKeyPtr RegistryKey::openChild(std::string_view name) {
    if (badName(name)) {
        return nullptr;
    }
    std::lock_guard lock(m_hive->mutex());
    auto child = m_node->deleted ? nullptr : m_node->child(name);
    if (!child) {
        return nullptr;
    }
    return StoreKeyPtr::adopt(new RegistryKey(m_hive, std::move(child), isReadOnly()));
}

StoreKeyPtr RegistryKey::createChild(std::string_view name) {
    if (isReadOnly()) {
        return openChild(name);
    }
    if (badName(name) || name.empty() || name.size() > kMaxComponentLength) {
        return nullptr;
    }
    std::lock_guard lock(m_hive->mutex());
    if (m_node->deleted) {
        return nullptr;
    }
    auto child = m_node->child(name);
    if (!child) {
        child = std::make_shared<RegNode>();
        child->name = std::string(name);
        m_node->addChild(child);
        m_hive->markDirty();
    }
    return StoreKeyPtr::adopt(new RegistryKey(m_hive, std::move(child), false));
}

int RegistryKey::deleteChild(std::string_view name) {
    if (isReadOnly() || badName(name)) {
        return 0;
    }
    std::lock_guard lock(m_hive->mutex());
    auto child = m_node->child(name);
    if (!child) {
        return 0;
    }
    child->markDeleted();
    std::erase(m_node->children, child);
    m_hive->markDirty();
    return 1;
}

int RegistryKey::childName(int index, char* buffer, std::size_t size) {
    std::lock_guard lock(m_hive->mutex());
    if (index < 0 || static_cast<std::size_t>(index) >= m_node->children.size()) {
        return 0;
    }
    return copyName(m_node->children[static_cast<std::size_t>(index)]->name, buffer, size);
}

int RegistryKey::renameChild(std::string_view name, std::string_view newName) {
    if (isReadOnly() || badName(newName) || newName.empty()) {
        return 0;
    }
    std::lock_guard lock(m_hive->mutex());
    auto child = m_node->child(name);
    auto existing = m_node->child(newName);
    if (!child || (existing && existing != child)) {
        return 0;
    }
    std::erase(m_node->children, child);
    child->name = std::string(newName);
    m_node->addChild(child);
    m_hive->markDirty();
    return 1;
}

std::int64_t RegistryKey::getRaw(ValueType type, std::string_view name, void* buffer,
                                 std::size_t size, const void* defaultData) {
    std::lock_guard lock(m_hive->mutex());
    const RegValue* v = m_node->deleted ? nullptr : m_node->value(name);
    if (v != nullptr && type != ValueType::None && v->type == regTypeFor(type)) {
        std::vector<unsigned char> bytes;
        if (type == ValueType::String) {
            bytes = v->data;
            bytes.push_back(0);
        } else if (type == ValueType::WideString) {
            std::u16string text = toUtf16(
                std::string_view(reinterpret_cast<const char*>(v->data.data()), v->data.size()));
            text.push_back(u'\0');
            bytes.resize(text.size() * 2);
            std::memcpy(bytes.data(), text.data(), bytes.size());
        } else {
            bytes = v->data;
        }
        const std::size_t n = std::min(bytes.size(), size);
        if (n == 0 || buffer != nullptr) {
            if (n > 0) {
                std::memcpy(buffer, bytes.data(), n);
            }
            return static_cast<std::int64_t>(n);
        }
    }
    if (defaultData != nullptr && buffer != nullptr && size > 0) {
        std::memmove(buffer, defaultData, size);
    }
    return -1;
}

int RegistryKey::setRaw(ValueType type, std::string_view name, const void* data, std::size_t size) {
    if (isReadOnly() || type == ValueType::None || (data == nullptr && size > 0)) {
        return 0;
    }
    RegValue v;
    v.name = std::string(name);
    v.type = regTypeFor(type);
    const auto* p = static_cast<const unsigned char*>(data);
    switch (type) {
        case ValueType::Int:
        case ValueType::Int64:
        case ValueType::Double:
            if (size != (type == ValueType::Int ? 4u : 8u)) {
                return 0;
            }
            v.data.assign(p, p + size);
            break;
        case ValueType::String: {
            // Stored without the terminating NUL, as the registry keeps strings.
            const std::string_view text(reinterpret_cast<const char*>(p), size);
            const std::string_view body = text.substr(0, text.find('\0'));
            v.data.assign(body.begin(), body.end());
            break;
        }
        case ValueType::WideString: {
            std::u16string text(size / 2, u'\0');
            if (!text.empty()) {
                std::memcpy(text.data(), p, text.size() * 2);
            }
            const std::string utf8 = toUtf8(std::u16string_view(text).substr(0, text.find(u'\0')));
            v.data.assign(utf8.begin(), utf8.end());
            break;
        }
        default:
            v.data.assign(p, p + size);
            break;
    }
    std::lock_guard lock(m_hive->mutex());
    if (m_node->deleted) {
        return 0;
    }
    if (RegValue* old = m_node->value(name)) {
        old->type = v.type;  // the registry lets a value change its type
        old->data = std::move(v.data);
    } else {
        m_node->values.push_back(std::move(v));
    }
    m_hive->markDirty();
    return 1;
}

int RegistryKey::deleteValue(std::string_view name) {
    if (isReadOnly()) {
        return 0;
    }
    std::lock_guard lock(m_hive->mutex());
    auto& values = m_node->values;
    const auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& v) {
        return detail::equalNoCase(v.name, name);
    });
    if (it == values.end()) {
        return 0;
    }
    values.erase(it);
    m_hive->markDirty();
    return 1;
}

int RegistryKey::hasValue(std::string_view name) {
    std::lock_guard lock(m_hive->mutex());
    return !m_node->deleted && m_node->value(name) != nullptr;
}

int RegistryKey::valueName(int index, char* buffer, std::size_t size) {
    std::lock_guard lock(m_hive->mutex());
    if (index < 0 || static_cast<std::size_t>(index) >= m_node->values.size()) {
        return 0;
    }
    return copyName(m_node->values[static_cast<std::size_t>(index)].name, buffer, size);
}

int RegistryKey::renameValue(std::string_view name, std::string_view newName) {
    if (isReadOnly()) {
        return 0;
    }
    std::lock_guard lock(m_hive->mutex());
    RegValue* v = m_node->value(name);
    const RegValue* existing = m_node->value(newName);
    if (v == nullptr || (existing != nullptr && existing != v)) {
        return 0;
    }
    v->name = std::string(newName);
    m_hive->markDirty();
    return 1;
}

std::int64_t RegistryKey::valueSize(std::string_view name) {
    std::lock_guard lock(m_hive->mutex());
    const RegValue* v = m_node->deleted ? nullptr : m_node->value(name);
    if (v == nullptr) {
        return -1;
    }
    return static_cast<std::int64_t>(v->data.size()) + (v->type == RegType::Sz ? 1 : 0);
}

ValueType RegistryKey::valueType(std::string_view name) {
    std::lock_guard lock(m_hive->mutex());
    const RegValue* v = m_node->deleted ? nullptr : m_node->value(name);
    if (v == nullptr) {
        return ValueType::None;
    }
    switch (v->type) {
        case RegType::Sz:
            return ValueType::String;
        case RegType::Dword:
            return ValueType::Int;
        case RegType::Qword:
            return ValueType::Int64;
        case RegType::Binary:
            break;
    }
    return ValueType::Binary;
}

}  // namespace pm
