#include "app/RememberedFolders.h"

#include "app/AppRegistry.h"
#include "app/PathMacros.h"

namespace pm {

const char* RememberedFolders::defaultFor(std::string_view key) {
    if (key == "MotionTemplatePath") {
        return "{CFG}/Templates";
    }
    if (key == "BmpPath") {
        return "{IMG}";
    }
    if (key == "PzpPath") {
        return "{USR}/Pictomove";
    }
    return "{USR}";
}

std::string RememberedFolders::folder(std::string_view key) const {
    if (auto stored = m_registry.readString(AppRegistry::Root::User, kSubkey, key)) {
        return *stored;
    }
    return m_macros.expand(defaultFor(key));
}

bool RememberedFolders::remember(std::string_view key, std::string_view folder) {
    return m_registry.writeString(kSubkey, key, folder);
}

bool RememberedFolders::rememberFolderOf(std::string_view key, std::string_view file) {
    const auto slash = file.find_last_of('/');
    if (slash == std::string_view::npos) {
        return false;
    }
    return remember(key, slash == 0 ? std::string_view("/") : file.substr(0, slash));
}

}  // namespace pm
