#pragma once

#include <cstdint>

#include "core/Project.h"

namespace pm {

class StoreKey;

// The memory settings of the "Config" page: a limit on each scene picture's memory, and the
// memory the program aims to use, whose default and maximum follow the machine's physical memory.
struct MemorySettings {
    static constexpr double kMinSourceLimit = 64.0;
    static constexpr double kMaxSourceLimit = 1024.0;
    static constexpr double kMinTarget = 100.0;
    // What the picture cache leaves of the target for everything else.
    static constexpr int kOtherUse = 20;

    bool enableMaxMemSize = false;
    double srcMaxMemSize = kMinSourceLimit;
    double targetMemUsage = 0.0;

    // The defaults of a machine with this much memory.
    static MemorySettings defaults(std::uint64_t physicalMegabytes);
    static int defaultTarget(std::uint64_t physicalMegabytes);
    static int maximumTarget(std::uint64_t physicalMegabytes);
    // This machine's memory; 0 when the system does not say.
    static std::uint64_t physicalMegabytes();

    // Section "Config" of the settings: missing values (or values of another type) take the
    // defaults; values outside the page's ranges are brought into them, so a target stored above
    // the maximum is lowered to it.
    void load(StoreKey& settings, std::uint64_t physicalMegabytes);
    void save(StoreKey& settings) const;

    // The picture limit (off means full resolution) and the cache's budget in megabytes.
    Project::ImageMemory imageMemory() const;
    int cacheBudget() const;

    bool operator==(const MemorySettings&) const = default;
};

}  // namespace pm
