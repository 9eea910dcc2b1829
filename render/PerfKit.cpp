#include "render/PerfKit.h"

#include <sched.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "render/BlurFilter.h"
#include "render/LevelsTable.h"
#include "render/detail/ImageOps.h"
#include "render/detail/KernelSet.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace pm {
namespace {

struct State {
    std::atomic<int> level{0};
    std::atomic<int> vendor{0};
    std::atomic<int> processorCount{1};
    std::atomic<CodePath> path{CodePath::Plain};
    std::atomic<const detail::KernelSet*> kernels{nullptr};
};

State& state() {
    static State s;
    return s;
}

std::once_flag& defaultInitialisation() {
    static std::once_flag flag;
    return flag;
}

void apply(std::optional<std::uint32_t> cpuOptions) {
    const CpuDescription d =
        CpuOptions::fromRegistryValue(cpuOptions).applyTo(PerfKit::detectProcessor());
    State& s = state();
    const CodePath path = PerfKit::codePathForLevel(d.level);
    s.level.store(d.level);
    s.vendor.store(d.vendor);
    s.processorCount.store(d.processorCount);
    s.path.store(path);
    s.kernels.store(&detail::kernelsFor(path));
}

State& ready() {
    std::call_once(defaultInitialisation(), [] { apply(std::nullopt); });
    return state();
}

int systemProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return count;
        }
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
}

const detail::KernelSet& activeKernels() {
    return *ready().kernels.load();
}

// Chooses the table before main() runs, as the renderer's first frame must not pay for it.
[[maybe_unused]] const bool kInitialisedAtLoad = (ready(), true);

}  // namespace

CpuDescription PerfKit::detectProcessor() {
    CpuDescription d;
    d.level = 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, dx = 0;
    if (__get_cpuid(0, &a, &b, &c, &dx) != 0) {
        char vendor[13] = {};
        std::memcpy(vendor, &b, 4);
        std::memcpy(vendor + 4, &dx, 4);
        std::memcpy(vendor + 8, &c, 4);
        unsigned features = 0;
        if (__get_cpuid(1, &a, &b, &c, &dx) != 0) {
            features = dx;
        }
        const bool amd = std::strcmp(vendor, "AuthenticAMD") == 0;
        if (amd && __get_cpuid(0x80000001u, &a, &b, &c, &dx) != 0) {
            features |= dx;
        }
        if (features & (1u << 26)) {
            d.level = 4;
        } else if (features & (1u << 25)) {
            d.level = 3;
        } else if (features & (1u << 22)) {
            d.level = 2;
        } else if (features & (1u << 23)) {
            d.level = 1;
        }
        d.vendor = std::strcmp(vendor, "GenuineIntel") == 0 ? 1 : (amd ? 2 : 0);
    }
#endif
    d.processorCount = systemProcessorCount();
    return d;
}

CpuDescription PerfKit::initialise(std::optional<std::uint32_t> cpuOptions) {
    std::call_once(defaultInitialisation(), [] {});
    apply(cpuOptions);
    return description();
}

CpuDescription PerfKit::description() {
    const State& s = ready();
    CpuDescription d;
    d.level = s.level.load();
    d.vendor = s.vendor.load();
    d.processorCount = s.processorCount.load();
    return d;
}

int PerfKit::processorCount() {
    return ready().processorCount.load();
}

int PerfKit::level() {
    return ready().level.load();
}

CodePath PerfKit::codePathForLevel(int level) {
    if (level <= 0) {
        return CodePath::Plain;
    }
#if defined(__x86_64__) || defined(__i386__)
    if (level >= 4 && detail::codePathAvailable(CodePath::Avx2)) {
        return CodePath::Avx2;
    }
    return CodePath::Sse2;
#else
    return CodePath::Plain;
#endif
}

CodePath PerfKit::codePath() {
    return ready().path.load();
}

const RoutineTable& PerfKit::routines() {
    return activeKernels().routines;
}

PixelStatus PerfKit::allocate(ImageBuffer* buffer, PixelFormat format, int width, int height) {
    return detail::allocateImage(buffer, format, width, height);
}

void PerfKit::free(ImageBuffer* buffer) {
    if (buffer != nullptr) {
        *buffer = ImageBuffer{};
    }
}

PixelStatus PerfKit::fill(const ImageBuffer& buffer, std::uint32_t colour, int colourKind) {
    return detail::fillImage(activeKernels(), buffer, colour, colourKind);
}

PixelStatus PerfKit::copy(const ImageBuffer& destination, const ImageBuffer& source) {
    return detail::copyImage(activeKernels(), destination, source);
}

PixelStatus PerfKit::mix(const ImageBuffer& destination, const ImageBuffer& a, const ImageBuffer& b,
                         int weight, bool alphaAware) {
    return detail::mixImages(activeKernels(), destination, a, b, weight, alphaAware);
}

PixelStatus PerfKit::composite(const ImageBuffer& destination, const ImageBuffer& source,
                               int weight) {
    return detail::compositeImages(activeKernels(), destination, source, weight);
}

std::unique_ptr<BlurFilter> PerfKit::createBlurFilter() {
    return std::make_unique<BlurFilter>(codePath());
}

std::unique_ptr<LevelsTable> PerfKit::createLevelsTable() {
    return std::make_unique<LevelsTable>();
}

}  // namespace pm
