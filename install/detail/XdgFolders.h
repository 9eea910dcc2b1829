#pragma once

#include <optional>
#include <string>

#include "install/detail/PlatformFolders.h"

namespace pm {

// Folders after the XDG base and user directory conventions. Reads the environment and
// user-dirs.dirs afresh on every call, so nothing is cached between calls.
class XdgFolders : public PlatformFolders {
public:
    std::optional<std::string> documentsFolder() const override;
    std::optional<std::string> sharedDataFolder() const override;

    // The value of XDG_DOCUMENTS_DIR in the text of a user-dirs.dirs file, resolved against
    // `home`; empty when the text sets no usable value. The last valid assignment wins, as it
    // does when the file is sourced by a shell.
    static std::optional<std::string> documentsDirFromUserDirs(const std::string& text,
                                                               const std::string& home);
};

}  // namespace pm
