#pragma once

#include <cstdint>
#include <optional>

namespace pm {

// Instruction-set level 0 plain, 1 MMX, 2 MMX with the AMD extensions, 3 SSE, 4 SSE2 and better;
// vendor 0 other, 1 Intel, 2 AMD.
struct CpuDescription {
    int level = 0;
    int vendor = 0;
    int processorCount = 1;
};

// The administrator's `CPUOptions` override: byte 0 forces level byte − 1, byte 1 the processor
// count, bit 0 of byte 2 the vendor-neutral routines. Zero bytes leave the detected values.
class CpuOptions {
public:
    CpuOptions() = default;
    explicit CpuOptions(std::uint32_t value) : m_value(value) {}

    // `value` is the registry value, or nothing when it is missing or unreadable.
    static CpuOptions fromRegistryValue(std::optional<std::uint32_t> value);

    std::uint32_t value() const { return m_value; }
    // The override never raises the level above what the processor has.
    CpuDescription applyTo(const CpuDescription& detected) const;

private:
    std::uint32_t m_value = 0;
};

}  // namespace pm
