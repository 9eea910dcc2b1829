#include "app/MemorySettings.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "app/Preferences.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

constexpr char kConfig[] = "Config";

double finiteOr(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

}  // namespace

int MemorySettings::defaultTarget(std::uint64_t p) {
    if (p >= 750) {
        return 300;
    }
    if (p >= 500) {
        return 240;
    }
    if (p >= 350) {
        return 200;
    }
    if (p >= 256) {
        return 160;
    }
    return 128;
}

int MemorySettings::maximumTarget(std::uint64_t p) {
    return static_cast<int>(std::clamp<std::uint64_t>(p * 8 / 10, 128, 512));
}

MemorySettings MemorySettings::defaults(std::uint64_t physicalMegabytes) {
    MemorySettings settings;
    settings.targetMemUsage = defaultTarget(physicalMegabytes);
    return settings;
}

std::uint64_t MemorySettings::physicalMegabytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) >> 20;
}

void MemorySettings::load(StoreKey& settings, std::uint64_t physicalMegabytes) {
    const MemorySettings fallback = defaults(physicalMegabytes);
    StoreKeyPtr config = Preferences::subsection(settings, kConfig, false);
    enableMaxMemSize = config->getInt("EnableMaxMemSize", 0) != 0;
    srcMaxMemSize = std::clamp(finiteOr(config->getDouble("SrcMaxMemSize", fallback.srcMaxMemSize),
                                        fallback.srcMaxMemSize),
                               kMinSourceLimit, kMaxSourceLimit);
    const double maximum = maximumTarget(physicalMegabytes);
    targetMemUsage =
        std::clamp(finiteOr(config->getDouble("TargetMemUsage", fallback.targetMemUsage),
                            fallback.targetMemUsage),
                   kMinTarget, maximum);
}

void MemorySettings::save(StoreKey& settings) const {
    StoreKeyPtr config = Preferences::subsection(settings, kConfig, true);
    config->setInt("EnableMaxMemSize", enableMaxMemSize ? 1 : 0);
    config->setDouble("SrcMaxMemSize", srcMaxMemSize);
    config->setDouble("TargetMemUsage", targetMemUsage);
}

Project::ImageMemory MemorySettings::imageMemory() const {
    Project::ImageMemory memory;
    memory.limitPerScene = enableMaxMemSize;
    memory.limitMegabytes = static_cast<int>(srcMaxMemSize);
    return memory;
}

int MemorySettings::cacheBudget() const {
    return static_cast<int>(targetMemUsage) - kOtherUse;
}

}  // namespace pm
