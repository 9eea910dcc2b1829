#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/StoreKeyPtr.h"

namespace pm {

class StoreKey;

namespace detail {

// Reads of values from files that may have been made by anyone: sizes are checked against what
// the file can hold before memory is taken, and numbers against what the reader can use.

// A string value read through a buffer of at most `maxBytes`; the default when missing or of
// another type.
std::string readText(StoreKey& key, std::string_view name, std::string_view defaultText,
                     std::size_t maxBytes = 4096);

// A binary value of at most `maxBytes` bytes, or nothing when it is missing, of another type,
// larger than allowed or cannot be read whole.
std::optional<std::vector<std::uint8_t>> readBlob(StoreKey& key, std::string_view name,
                                                  std::uint64_t maxBytes);
std::shared_ptr<const std::vector<std::uint8_t>> readSharedBlob(StoreKey& key,
                                                                std::string_view name,
                                                                std::uint64_t maxBytes);

// A double that is finite, else the default.
double readFinite(StoreKey& key, std::string_view name, double defaultValue);

// Copies `source`'s values and keys into `destination`, at most `maxDepth` keys deep and with
// values no larger than `maxValueBytes`; deeper keys and larger values are left out. False when
// a write failed.
bool copyTree(StoreKey& destination, StoreKey& source, std::uint64_t maxValueBytes,
              int maxDepth = 32);

// The names of `key`'s child keys, in store order (at most `limit`).
std::vector<std::string> childNames(StoreKey& key, std::size_t limit);

}  // namespace detail
}  // namespace pm
