#pragma once

#include <string>
#include <string_view>

namespace pm {

class AppRegistry;
class PathMacros;

// The last folder of each kind of file dialog, kept as user values of "GUI\FilePaths":
// "BmpPath", "SoundPath", "MotionTemplatePath", "ExportPath", "PzpPath".
class RememberedFolders {
public:
    static constexpr char kSubkey[] = "GUI\\FilePaths";

    RememberedFolders(AppRegistry& registry, const PathMacros& macros)
        : m_registry(registry), m_macros(macros) {}

    // The stored folder, else the expansion of the key's default. Keys compare exactly.
    std::string folder(std::string_view key) const;
    bool remember(std::string_view key, std::string_view folder);
    // Remembers the folder of a chosen file (everything before its last separator).
    bool rememberFolderOf(std::string_view key, std::string_view file);

    // "{CFG}/Templates" for motion templates, "{IMG}" for pictures, "{USR}/Pictomove" for
    // projects, "{USR}" for anything else.
    static const char* defaultFor(std::string_view key);

private:
    AppRegistry& m_registry;
    const PathMacros& m_macros;
};

}  // namespace pm
