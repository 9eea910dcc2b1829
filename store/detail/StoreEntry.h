#pragma once

#include <cstdint>

#include "store/ValueType.h"

namespace pm::detail {

// Entry type codes of the file's entry table.
enum class EntryType : std::uint32_t {
    Free = 0,
    Folder = 1,
    Int = 2,
    Int64 = 3,
    Double = 4,
    Binary = 5,
    String = 6,
    WideString = 7,
};

// One 16-byte record of the entry table. For data-area types `low` is the data offset from the
// start of the data area and `high` the size; numbers keep their bits in low/high.
struct StoreEntry {
    EntryType type = EntryType::Free;
    std::int32_t parent = -1;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

inline bool holdsData(EntryType t) {
    return t == EntryType::Folder || t == EntryType::Binary || t == EntryType::String ||
           t == EntryType::WideString;
}

inline EntryType entryTypeFor(ValueType t) {
    switch (t) {
        case ValueType::Binary:
            return EntryType::Binary;
        case ValueType::Int:
            return EntryType::Int;
        case ValueType::Int64:
            return EntryType::Int64;
        case ValueType::String:
            return EntryType::String;
        case ValueType::WideString:
            return EntryType::WideString;
        case ValueType::Double:
            return EntryType::Double;
        case ValueType::None:
            break;
    }
    return EntryType::Free;
}

inline ValueType valueTypeFor(EntryType t) {
    switch (t) {
        case EntryType::Binary:
            return ValueType::Binary;
        case EntryType::Int:
            return ValueType::Int;
        case EntryType::Int64:
            return ValueType::Int64;
        case EntryType::String:
            return ValueType::String;
        case EntryType::WideString:
            return ValueType::WideString;
        case EntryType::Double:
            return ValueType::Double;
        case EntryType::Free:
        case EntryType::Folder:
            break;
    }
    return ValueType::None;
}

inline std::uint32_t loadLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void storeLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

constexpr std::uint32_t kMaxEntries = 0x7FFFFFFF;
// Deeper trees are refused: nothing real nests this far, and the recursive copy, delete and
// search operations must not run out of stack on a hostile file.
constexpr std::uint32_t kMaxDepth = 512;

}  // namespace pm::detail
