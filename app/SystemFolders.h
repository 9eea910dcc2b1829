#pragma once

#include <optional>
#include <string>

namespace pm {

// The folders the system names for this user and this installation, found through the XDG base
// and user directories. Each query reads the environment when called.
class SystemFolders {
public:
    // $HOME, else the password database's home folder; empty when neither is known.
    static std::string home();
    // $XDG_RUNTIME_DIR when it names an existing folder, else /tmp.
    static std::string temporaryBase();
    // The folder of the running executable.
    static std::string executableFolder();
    // The executable's file name without its folder.
    static std::string executableName();
    // Where the program is installed: the executable's folder, or its parent when the program
    // sits in a "bin" folder. In a build tree that is the build folder itself.
    static std::string installPrefix();
    // Shared read-only data below an install prefix.
    static std::string commonFolder(const std::string& prefix);
    // $XDG_CONFIG_HOME (or ~/.config) followed by Korvane/Pictomove; none without either.
    static std::optional<std::string> configFolder();
    // The XDG user folders for pictures and documents (user-dirs.dirs), else ~/Pictures and
    // ~/Documents.
    static std::string picturesFolder();
    static std::string documentsFolder();

    // Reads one entry such as "XDG_PICTURES_DIR" from the text of a user-dirs.dirs file;
    // "$HOME" is replaced by `homeFolder`. None when the entry is absent or not a folder path.
    static std::optional<std::string> parseUserDir(const std::string& text, const std::string& key,
                                                   const std::string& homeFolder);
};

}  // namespace pm
