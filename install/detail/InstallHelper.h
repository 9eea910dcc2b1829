#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "install/detail/DirectXRuntime.h"
#include "install/detail/PlatformFolders.h"
#include "install/detail/SetupLibraryLoader.h"

namespace pm {

// The work behind the installer library's exports, on the platform services it is given.
class InstallHelper {
public:
    // The lowest runtime version that passes: 9.0b.
    static constexpr std::uint32_t kMinimumDirectXVersion = 0x090002;
    // Installs the DirectX core together with its display and sound drivers.
    static constexpr std::uint32_t kSetupFlags = 0x10018;
    static constexpr std::size_t kFolderPathSize = 260;
    static constexpr std::size_t kVersionTextSize = 30;

    InstallHelper(const PlatformFolders& folders, DirectXRuntime& runtime,
                  SetupLibraryLoader& setupLoader);

    // 0 asks for the documents folder, 1 for the shared application data folder. Returns 1 after
    // writing the path into `path` (kFolderPathSize characters); otherwise 0, `path` untouched.
    int getFolderPath(int which, char* path) const;

    // The runtime version as ((major * 256 + minor) * 256 + letter), the letter counted a = 1 to
    // z = 26. Also writes "9.0" or "9.0c" into `text`, cut to `textSize` (text may be null).
    std::uint32_t directXVersion(char* text, std::size_t textSize) const;
    int checkDirectXVersion() const;

    // Runs the setup library's DirectXSetupA: 0 on success or when the library is unusable,
    // 1 when a restart is required, 2 on an error.
    int directXInstall(const char* rootPath, const char* setupLibraryPath) const;

    // Reads "major.minor.build" the way "%d.%d.%d" does; parts that are missing count as 0 and
    // numbers beyond the int range are held at its ends.
    static std::array<int, 3> parseVersion(const char* text);
    static int compareVersionStrings(const char* first, const char* second);

private:
    const PlatformFolders& m_folders;
    DirectXRuntime& m_runtime;
    SetupLibraryLoader& m_setupLoader;
};

}  // namespace pm
