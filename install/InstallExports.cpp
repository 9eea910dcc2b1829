#include "install/InstallExports.h"

#include "install/detail/AbsentDirectXRuntime.h"
#include "install/detail/DlSetupLibraryLoader.h"
#include "install/detail/InstallHelper.h"
#include "install/detail/XdgFolders.h"

namespace {

static_assert(pm::InstallHelper::kFolderPathSize == PM_FOLDER_PATH_SIZE);

// The library keeps no state between calls: every export works on fresh platform services.
struct PlatformServices {
    pm::XdgFolders folders;
    pm::AbsentDirectXRuntime runtime;
    pm::DlSetupLibraryLoader setupLoader;
    pm::InstallHelper helper{folders, runtime, setupLoader};
};

}  // namespace

// Nothing may escape into the setup program that loaded us.
extern "C" int StpGetFolderPath(int which, char* path) {
    try {
        return PlatformServices().helper.getFolderPath(which, path);
    } catch (...) {
        return 0;
    }
}

extern "C" int CheckDirectXVersion(void) {
    try {
        return PlatformServices().helper.checkDirectXVersion();
    } catch (...) {
        return 0;
    }
}

extern "C" int CompareVersionStrings(const char* first, const char* second) {
    return pm::InstallHelper::compareVersionStrings(first, second);
}

extern "C" int DirectXInstall(const char* rootPath, const char* setupLibraryPath) {
    try {
        return PlatformServices().helper.directXInstall(rootPath, setupLibraryPath);
    } catch (...) {
        return 0;
    }
}
