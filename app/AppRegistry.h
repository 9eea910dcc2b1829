#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "store/StoreKeyPtr.h"

namespace pm {

// The program's values in the machine and user registry roots, under its own key
// ("SOFTWARE\Korvane\Pictomove"). Subkeys are relative to that key and joined with "\"; an empty
// subkey is the key itself. A value that is missing or of another type reads as none, so that
// the caller's default stays in place. The machine root is read-only.
class AppRegistry {
public:
    enum class Root { User, Machine };

    // The registry files of this user and this installation.
    AppRegistry();
    // Other files, for tools and tests.
    AppRegistry(std::filesystem::path userFile, std::filesystem::path machineFile);

    std::optional<std::string> readString(Root root, std::string_view subkey,
                                          std::string_view name) const;
    std::optional<std::uint32_t> readDword(Root root, std::string_view subkey,
                                           std::string_view name) const;
    // Store-typed values (the registry backend's int and double).
    std::optional<std::int32_t> readInt(Root root, std::string_view subkey,
                                        std::string_view name) const;

    // User values; the key is created when missing and the file is written at once.
    bool writeString(std::string_view subkey, std::string_view name, std::string_view value);
    bool writeDword(std::string_view subkey, std::string_view name, std::uint32_t value);
    bool deleteUserValue(std::string_view subkey, std::string_view name);

    // A store node of the program's key, for the preferences. Reading: null when the key is
    // missing. Writing: created when missing.
    StoreKeyPtr openUserKey(std::string_view subkey, bool writable) const;
    // The root of a registry file (for readers that take a whole root, such as the processor
    // override).
    StoreKeyPtr openRoot(Root root) const;
    // Writes the pending changes of the user file.
    bool flushUser() const;

    const std::filesystem::path& file(Root root) const;
    // Why the last open of a file failed (a malformed file); empty when it did not.
    const std::string& lastError() const { return m_lastError; }

private:
    StoreKeyPtr open(Root root, bool writable) const;
    StoreKeyPtr openKey(Root root, std::string_view subkey, bool writable) const;

    std::filesystem::path m_userFile;
    std::filesystem::path m_machineFile;
    mutable std::string m_lastError;
};

}  // namespace pm
