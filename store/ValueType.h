#pragma once

namespace pm {

// The value type codes of the store interface. The file's entry table uses its own codes
// (see detail/StoreEntry.h); the registry maps them onto its own types.
enum class ValueType : int {
    None = 0,
    Binary = 1,
    Int = 2,
    Int64 = 3,
    String = 4,
    WideString = 5,
    Double = 6,
};

}  // namespace pm
