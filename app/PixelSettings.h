#pragma once

#include <cstdint>
#include <optional>

#include "render/CpuOptions.h"

namespace pm {

class StoreKey;

// The processor override "CPUOptions" (a 32-bit value) under "Software\Korvane\PerfKit" of the
// given registry root; absent, of another type or unreadable means no override.
std::optional<std::uint32_t> readCpuOptions(StoreKey& root);

// Chooses the pixel routines once at start-up, honouring the machine registry's override.
CpuDescription initialisePixelRoutines();

}  // namespace pm
