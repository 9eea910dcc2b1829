#include "store/detail/StorageKey.h"

#include <cstring>
#include <optional>

#include "store/detail/Storage.h"

namespace pm::detail {

StorageKey::StorageKey(std::shared_ptr<Storage> storage, FolderNode* node, bool readOnly)
    : StoreKey(readOnly), m_storage(std::move(storage)), m_node(node) {}

StorageKey::~StorageKey() {
    m_storage->releaseNode(m_node);
}

void StorageKey::destroy() {
    delete this;
}

std::optional<std::size_t> StorageKey::findChild(std::string_view name, bool folder) const {
    const auto pos = m_node->find(name);
    if (!pos) {
        return std::nullopt;
    }
    const bool isFolder = m_storage->entry(m_node->records()[*pos].entry).type == EntryType::Folder;
    return isFolder == folder ? pos : std::nullopt;
}

StoreKeyPtr StorageKey::openChild(std::string_view name) {
    const auto pos = findChild(name, true);
    if (!pos) {
        return nullptr;
    }
    FolderNode* node = m_storage->acquireNode(m_node->records()[*pos].entry);
    return node ? m_storage->makeKey(node, isReadOnly()) : nullptr;
}

StoreKeyPtr StorageKey::createChild(std::string_view name) {
    if (isReadOnly()) {
        return openChild(name);
    }
    if (m_node->find(name)) {
        return openChild(name);  // null when the name holds a value
    }
    if (name.empty() || name.find('\\') != std::string_view::npos) {
        return nullptr;
    }
    const auto pos = m_storage->createChild(*m_node, name, EntryType::Folder);
    if (!pos) {
        return nullptr;
    }
    FolderNode* node = m_storage->acquireNode(m_node->records()[*pos].entry);
    return node ? m_storage->makeKey(node, false) : nullptr;
}

int StorageKey::deleteChild(std::string_view name) {
    if (isReadOnly()) {
        return 0;
    }
    const auto pos = findChild(name, true);
    return pos && m_storage->deleteChild(*m_node, *pos) ? 1 : 0;
}

int StorageKey::nameAt(int index, bool folders, EnumCache& cache, char* buffer, std::size_t size) {
    if (index < 0) {
        return 0;
    }
    if (cache.generation != m_node->generation() || index < cache.ordinal) {
        cache = EnumCache{0, 0, m_node->generation()};
    }
    const auto& records = m_node->records();
    for (std::size_t pos = cache.pos; pos < records.size(); ++pos) {
        const bool isFolder = m_storage->entry(records[pos].entry).type == EntryType::Folder;
        if (isFolder != folders) {
            continue;
        }
        if (cache.ordinal == index) {
            cache.pos = pos;
            if (buffer != nullptr && size > 0) {
                const std::string text = m_node->displayName(pos);
                const std::size_t n = std::min(text.size(), size - 1);
                std::memcpy(buffer, text.data(), n);
                buffer[n] = '\0';
            }
            return 1;
        }
        ++cache.ordinal;
        cache.pos = pos + 1;
    }
    cache.pos = records.size();
    return 0;
}

int StorageKey::childName(int index, char* buffer, std::size_t size) {
    return nameAt(index, true, m_keyCache, buffer, size);
}

int StorageKey::valueName(int index, char* buffer, std::size_t size) {
    return nameAt(index, false, m_valueCache, buffer, size);
}

int StorageKey::renameRecord(std::string_view name, std::string_view newName, bool folder) {
    if (isReadOnly() || newName.find('\\') != std::string_view::npos) {
        return 0;
    }
    const auto pos = findChild(name, folder);
    return pos && m_node->rename(*pos, newName) ? 1 : 0;
}

int StorageKey::renameChild(std::string_view name, std::string_view newName) {
    return renameRecord(name, newName, true);
}

int StorageKey::renameValue(std::string_view name, std::string_view newName) {
    return renameRecord(name, newName, false);
}

std::int64_t StorageKey::getRaw(ValueType type, std::string_view name, void* buffer,
                                std::size_t size, const void* defaultData) {
    const auto pos = findChild(name, false);
    const EntryType wanted = entryTypeFor(type);
    if (pos && wanted != EntryType::Free) {
        const std::uint32_t index = m_node->records()[*pos].entry;
        const StoreEntry& e = m_storage->entry(index);
        if (e.type == wanted) {
            if (!holdsData(e.type)) {
                const std::uint64_t bits = std::uint64_t{e.high} << 32 | e.low;
                const std::size_t width = e.type == EntryType::Int ? 4 : 8;
                const std::size_t n = std::min(width, size);
                unsigned char bytes[8];
                for (std::size_t i = 0; i < 8; ++i) {
                    bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
                }
                if (n > 0) {
                    std::memcpy(buffer, bytes, n);
                }
                return static_cast<std::int64_t>(n);
            }
            const std::size_t n = std::min<std::size_t>(e.high, size);
            if (n == 0 || (buffer != nullptr && m_storage->readValue(index, buffer, n))) {
                return static_cast<std::int64_t>(n);
            }
        }
    }
    if (defaultData != nullptr && buffer != nullptr && size > 0) {
        std::memmove(buffer, defaultData, size);
    }
    return -1;
}

int StorageKey::setRaw(ValueType type, std::string_view name, const void* data, std::size_t size) {
    const EntryType wanted = entryTypeFor(type);
    if (isReadOnly() || wanted == EntryType::Free || (data == nullptr && size > 0) ||
        name.find('\\') != std::string_view::npos) {
        return 0;
    }
    const bool number = !holdsData(wanted);
    const std::size_t width = wanted == EntryType::Int ? 4 : 8;
    if (number && size != width) {
        return 0;
    }
    const std::optional<std::uint32_t> entry = valueEntry(name, wanted);
    if (!entry) {
        return 0;
    }
    const std::uint32_t index = *entry;
    if (number) {
        unsigned char bytes[8] = {};
        std::memcpy(bytes, data, width);
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < width; ++i) {
            bits |= std::uint64_t{bytes[i]} << (8 * i);
        }
        return m_storage->setNumber(index, bits) ? 1 : 0;
    }
    return m_storage->writeValue(index, data, size) ? 1 : 0;
}

std::optional<std::uint32_t> StorageKey::valueEntry(std::string_view name, EntryType wanted) {
    auto pos = m_node->find(name);
    if (!pos) {
        if (name.empty()) {
            return std::nullopt;
        }
        pos = m_storage->createChild(*m_node, name, wanted);
        if (!pos) {
            return std::nullopt;
        }
    }
    const std::uint32_t index = m_node->records()[*pos].entry;
    if (m_storage->entry(index).type != wanted) {
        return std::nullopt;  // a value keeps its type and a key is never overwritten by a value
    }
    return index;
}

int StorageKey::setBinaryFrom(std::string_view name, std::uint64_t size, const ReadPiece& read) {
    if (isReadOnly() || !read || name.find('\\') != std::string_view::npos) {
        return 0;
    }
    const std::optional<std::uint32_t> entry = valueEntry(name, entryTypeFor(ValueType::Binary));
    return entry && m_storage->writeValueFrom(*entry, size, read) ? 1 : 0;
}

int StorageKey::deleteValue(std::string_view name) {
    if (isReadOnly()) {
        return 0;
    }
    const auto pos = findChild(name, false);
    return pos && m_storage->deleteChild(*m_node, *pos) ? 1 : 0;
}

int StorageKey::hasValue(std::string_view name) {
    return findChild(name, false) ? 1 : 0;
}

std::int64_t StorageKey::valueSize(std::string_view name) {
    const auto pos = findChild(name, false);
    if (!pos) {
        return -1;
    }
    const StoreEntry& e = m_storage->entry(m_node->records()[*pos].entry);
    switch (e.type) {
        case EntryType::Int:
            return 4;
        case EntryType::Int64:
        case EntryType::Double:
            return 8;
        default:
            return e.high;
    }
}

ValueType StorageKey::valueType(std::string_view name) {
    const auto pos = findChild(name, false);
    return pos ? valueTypeFor(m_storage->entry(m_node->records()[*pos].entry).type)
               : ValueType::None;
}

}  // namespace pm::detail
