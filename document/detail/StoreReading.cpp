#include "document/detail/StoreReading.h"

#include <array>
#include <cmath>

#include "store/StoreKey.h"

namespace pm::detail {

std::string readText(StoreKey& key, std::string_view name, std::string_view defaultText,
                     std::size_t maxBytes) {
    if (key.valueType(name) != ValueType::String) {
        return std::string(defaultText);
    }
    std::string text(maxBytes, '\0');
    const std::int64_t got = key.getString(name, text.data(), text.size(), nullptr);
    if (got < 0) {
        return std::string(defaultText);
    }
    text.resize(static_cast<std::size_t>(got));
    const auto end = text.find('\0');
    if (end != std::string::npos) {
        text.resize(end);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> readBlob(StoreKey& key, std::string_view name,
                                                  std::uint64_t maxBytes) {
    if (key.valueType(name) != ValueType::Binary) {
        return std::nullopt;
    }
    const std::int64_t size = key.valueSize(name);
    if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && key.getBinary(name, bytes.data(), bytes.size(), nullptr) != size) {
        return std::nullopt;
    }
    return bytes;
}

std::shared_ptr<const std::vector<std::uint8_t>> readSharedBlob(StoreKey& key,
                                                                std::string_view name,
                                                                std::uint64_t maxBytes) {
    auto bytes = readBlob(key, name, maxBytes);
    if (!bytes) {
        return nullptr;
    }
    return std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
}

double readFinite(StoreKey& key, std::string_view name, double defaultValue) {
    const double value = key.getDouble(name, defaultValue);
    return std::isfinite(value) ? value : defaultValue;
}

std::vector<std::string> childNames(StoreKey& key, std::size_t limit) {
    std::vector<std::string> names;
    std::array<char, StoreKey::kMaxComponentLength + 2> buffer{};
    for (int i = 0; names.size() < limit; ++i) {
        buffer.fill('\0');
        if (!key.childName(i, buffer.data(), buffer.size() - 1)) {
            break;
        }
        names.emplace_back(buffer.data());
    }
    return names;
}

namespace {

std::vector<std::string> valueNames(StoreKey& key) {
    std::vector<std::string> names;
    std::array<char, StoreKey::kMaxComponentLength + 2> buffer{};
    for (int i = 0;; ++i) {
        buffer.fill('\0');
        if (!key.valueName(i, buffer.data(), buffer.size() - 1)) {
            break;
        }
        names.emplace_back(buffer.data());
    }
    return names;
}

}  // namespace

bool copyTree(StoreKey& destination, StoreKey& source, std::uint64_t maxValueBytes, int maxDepth) {
    bool ok = true;
    for (const std::string& name : valueNames(source)) {
        const ValueType type = source.valueType(name);
        switch (type) {
            case ValueType::Int:
                ok = destination.setInt(name, source.getInt(name, 0)) && ok;
                break;
            case ValueType::Int64:
                ok = destination.setInt64(name, source.getInt64(name, 0)) && ok;
                break;
            case ValueType::Double:
                ok = destination.setDouble(name, source.getDouble(name, 0.0)) && ok;
                break;
            case ValueType::Binary:
            case ValueType::String:
            case ValueType::WideString: {
                const std::int64_t size = source.valueSize(name);
                if (size < 0 || static_cast<std::uint64_t>(size) > maxValueBytes) {
                    break;
                }
                std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
                if (source.getRaw(type, name, bytes.data(), bytes.size(), nullptr) == size) {
                    ok = destination.setRaw(type, name, bytes.data(), bytes.size()) && ok;
                }
                break;
            }
            default:
                break;
        }
    }
    if (maxDepth <= 0) {
        return ok;
    }
    for (const std::string& name : childNames(source, SIZE_MAX)) {
        StoreKeyPtr from = source.openChild(name);
        StoreKeyPtr to = from ? destination.createChild(name) : StoreKeyPtr();
        if (!from) {
            continue;
        }
        if (!to) {
            ok = false;
            continue;
        }
        ok = copyTree(*to, *from, maxValueBytes, maxDepth - 1) && ok;
    }
    return ok;
}

}  // namespace pm::detail
