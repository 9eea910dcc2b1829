#include "render/CpuOptions.h"

namespace pm {

CpuOptions CpuOptions::fromRegistryValue(std::optional<std::uint32_t> value) {
    return CpuOptions(value.value_or(0));
}

CpuDescription CpuOptions::applyTo(const CpuDescription& detected) const {
    CpuDescription result = detected;
    const int levelByte = static_cast<int>(m_value & 0xFF);
    const int countByte = static_cast<int>((m_value >> 8) & 0xFF);
    if (levelByte != 0) {
        result.level = levelByte - 1;
    }
    if (result.level < 0 || result.level > 4) {
        result.level = 0;
    }
    // Forcing a level the processor lacks would run instructions it cannot execute.
    if (result.level > detected.level) {
        result.level = detected.level < 0 ? 0 : detected.level;
    }
    if (countByte != 0) {
        result.processorCount = countByte;
    }
    if ((m_value >> 16) & 1) {
        result.vendor = 0;
    }
    return result;
}

}  // namespace pm
