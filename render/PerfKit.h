#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "render/CpuOptions.h"
#include "render/ImageBuffer.h"
#include "render/RoutineTable.h"

namespace pm {

class BlurFilter;
class LevelsTable;

// How the four bytes of a fill colour are read, byte 0 first: R, G, B, A or Y, Cb, Cr, A.
enum class ColourKind : int { Rgb = 1, YCbCr = 2 };

// The pixel routine library: the processor-dependent routine table and the buffer operations
// built on it. Everything is safe to call from any thread once initialised.
class PerfKit {
public:
    // Detects the processor, applies the `CPUOptions` registry value (nothing when the value is
    // missing) and chooses the routines. It runs by itself, without an override, on first use;
    // start-up calls it once with the registry's value before any other thread renders.
    static CpuDescription initialise(std::optional<std::uint32_t> cpuOptions);
    static CpuDescription detectProcessor();
    static CpuDescription description();
    static int processorCount();
    static int level();
    // Level 0 runs plain code, 1 to 3 128-bit vectors, 4 the widest vectors the processor has.
    static CodePath codePathForLevel(int level);
    static CodePath codePath();
    static const RoutineTable& routines();

    static PixelStatus allocate(ImageBuffer* buffer, PixelFormat format, int width, int height);
    static void free(ImageBuffer* buffer);
    static PixelStatus fill(const ImageBuffer& buffer, std::uint32_t colour, int colourKind);
    // Same size and format: row copy; other size: resample; other format: convert, always at the
    // smaller of the two sizes.
    static PixelStatus copy(const ImageBuffer& destination, const ImageBuffer& source);
    // weight 0 gives a, 4096 gives b; destination may be a or b.
    static PixelStatus mix(const ImageBuffer& destination, const ImageBuffer& a,
                           const ImageBuffer& b, int weight, bool alphaAware);
    // Draws source over destination with a 12-bit weight, accumulating alpha.
    static PixelStatus composite(const ImageBuffer& destination, const ImageBuffer& source,
                                 int weight);

    static std::unique_ptr<BlurFilter> createBlurFilter();
    static std::unique_ptr<LevelsTable> createLevelsTable();
};

}  // namespace pm
