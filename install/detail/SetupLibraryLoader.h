#pragma once

#include <cstdint>
#include <optional>

namespace pm {

// Loads a DirectX setup library and runs its DirectXSetupA. Tests substitute their own.
class SetupLibraryLoader {
public:
    virtual ~SetupLibraryLoader() = default;

    // The result of DirectXSetupA(owner window, rootPath, flags) from the library at
    // `libraryPath`, which is unloaded again afterwards; empty when the library cannot be loaded
    // or does not export DirectXSetupA. `rootPath` may be null.
    virtual std::optional<int> runSetup(const char* libraryPath, const char* rootPath,
                                        std::uint32_t flags) = 0;
};

}  // namespace pm
