#pragma once

#include <cstdio>
#include <string>

namespace pm {
class StoreKey;
}

namespace pm::cli {

// Writes a store key's tree: child keys and values with their types and values, as indented text
// or as JSON.
void dumpStoreText(StoreKey& key, FILE* out, int depth = 0);
void dumpStoreJson(StoreKey& key, FILE* out, int depth = 0);

// A JSON string literal of a text.
std::string jsonString(const std::string& text);

}  // namespace pm::cli
