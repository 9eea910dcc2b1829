#pragma once

#include "install/detail/SetupLibraryLoader.h"

namespace pm {

// Loads the setup library with dlopen.
class DlSetupLibraryLoader : public SetupLibraryLoader {
public:
    std::optional<int> runSetup(const char* libraryPath, const char* rootPath,
                                std::uint32_t flags) override;
};

}  // namespace pm
