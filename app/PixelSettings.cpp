#include "app/PixelSettings.h"

#include "render/PerfKit.h"
#include "store/RegistryKey.h"

namespace pm {

std::optional<std::uint32_t> readCpuOptions(StoreKey& root) {
    StoreKeyPtr key = root.openPath("Software\\Korvane\\PerfKit");
    if (!key || key->valueType("CPUOptions") != ValueType::Int) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(key->getInt("CPUOptions", 0));
}

CpuDescription initialisePixelRoutines() {
    std::optional<std::uint32_t> options;
    if (StoreKeyPtr machine = RegistryKey::openRoot(RegistryKey::Root::Machine, true)) {
        options = readCpuOptions(*machine);
    }
    return PerfKit::initialise(options);
}

}  // namespace pm
