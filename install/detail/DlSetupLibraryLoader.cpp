#include "install/detail/DlSetupLibraryLoader.h"

#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <vector>

namespace pm {

namespace {

// DirectXSetupA(owner window, root path, flags). The root path parameter is not const, so the
// library gets a copy it may write to rather than the caller's text.
using DirectXSetupFunction = int (*)(void* owner, char* rootPath, std::uint32_t flags);

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};

}  // namespace

std::optional<int> DlSetupLibraryLoader::runSetup(const char* libraryPath, const char* rootPath,
                                                  std::uint32_t flags) {
    // A null or empty name makes dlopen hand back the running program, never the setup library.
    if (libraryPath == nullptr || *libraryPath == '\0') {
        return std::nullopt;
    }
    std::unique_ptr<void, LibraryCloser> library(dlopen(libraryPath, RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        return std::nullopt;
    }
    void* symbol = dlsym(library.get(), "DirectXSetupA");
    if (symbol == nullptr) {
        return std::nullopt;
    }
    DirectXSetupFunction setup = nullptr;
    static_assert(sizeof(setup) == sizeof(symbol));
    std::memcpy(&setup, &symbol, sizeof(setup));

    std::vector<char> root;
    if (rootPath != nullptr) {
        root.assign(rootPath, rootPath + std::strlen(rootPath) + 1);
    }
    // There is no window system here, so the setup runs without an owner window.
    return setup(nullptr, rootPath != nullptr ? root.data() : nullptr, flags);
}

}  // namespace pm
