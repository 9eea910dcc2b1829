#pragma once

#include <optional>
#include <string>

namespace pm {

// Where the platform keeps the folders the setup program asks for. Tests substitute their own.
class PlatformFolders {
public:
    virtual ~PlatformFolders() = default;

    // The current user's documents folder, when it can be determined and exists.
    virtual std::optional<std::string> documentsFolder() const = 0;
    // The folder for application data shared by all users, when it exists.
    virtual std::optional<std::string> sharedDataFolder() const = 0;
};

}  // namespace pm
