#pragma once

#include "install/detail/DirectXRuntime.h"

namespace pm {

// This system has neither a DirectX diagnostic provider nor a Direct3D 9 system library, so every
// version query finds nothing.
class AbsentDirectXRuntime : public DirectXRuntime {
public:
    std::optional<DirectXVersion> diagnosticVersion() override { return std::nullopt; }
    bool hasDirect3D9Library() override { return false; }
};

}  // namespace pm
