#pragma once

#include <cstdint>
#include <optional>

namespace pm {

// A DirectX runtime version as its diagnostics report it: 9, 0, 'c' for 9.0c.
struct DirectXVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    char letter = '\0';  // '\0' when the version has no letter
};

// What the system can tell about its installed DirectX runtime. Tests substitute their own.
class DirectXRuntime {
public:
    virtual ~DirectXRuntime() = default;

    // The version the diagnostic provider reports; empty when there is no provider or it could
    // not deliver all three parts.
    virtual std::optional<DirectXVersion> diagnosticVersion() = 0;
    // Whether the system's Direct3D 9 library is present and carries version information.
    virtual bool hasDirect3D9Library() = 0;
};

}  // namespace pm
