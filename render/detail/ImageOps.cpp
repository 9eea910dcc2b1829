#include "render/detail/ImageOps.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "render/PerfKit.h"

namespace pm::detail {
namespace {

// Sides beyond this are refused: resampling keeps per-row sums in 32 bits.
constexpr std::uint32_t kMaxSide = 1u << 22;

bool is32Bit(PixelFormat format) {
    return format == PixelFormat::Bgra32 || format == PixelFormat::Yuva32;
}

ConvertRoutine converter(const RoutineTable& t, PixelFormat from, PixelFormat to) {
    using F = PixelFormat;
    struct Entry {
        F from;
        F to;
        ConvertRoutine routine;
    };
    const Entry entries[] = {
        {F::Bgra32, F::Yuy2, t.bgra32ToYuy2},     {F::Yuy2, F::Bgra32, t.yuy2ToBgra32},
        {F::Bgr24, F::Yuy2, t.bgr24ToYuy2},       {F::Yuy2, F::Bgr24, t.yuy2ToBgr24},
        {F::Bgr24, F::Bgra32, t.bgr24ToBgra32},   {F::Bgra32, F::Bgr24, t.bgra32ToBgr24},
        {F::Bgra32, F::Yuva32, t.bgra32ToYuva32}, {F::Yuva32, F::Bgra32, t.yuva32ToBgra32},
        {F::Bgr24, F::Yuva32, t.bgr24ToYuva32},   {F::Yuva32, F::Bgr24, t.yuva32ToBgr24},
        {F::Yuy2, F::Yuva32, t.yuy2ToYuva32},     {F::Yuva32, F::Yuy2, t.yuva32ToYuy2},
    };
    for (const Entry& e : entries) {
        if (e.from == from && e.to == to) {
            return e.routine;
        }
    }
    return nullptr;
}

ResampleRoutine resampler(const RoutineTable& t, PixelFormat format) {
    switch (format) {
        case PixelFormat::Yuva32:
            return t.resampleYuva32;
        case PixelFormat::Bgra32:
            return t.resampleBgra32;
        case PixelFormat::Yuy2:
            return t.resampleYuy2;
        case PixelFormat::Bgr24:
            return t.resampleBgr24;
    }
    return nullptr;
}

bool sameSize(const ImageBuffer& a, const ImageBuffer& b) {
    return a.width == b.width && a.height == b.height;
}

PixelStatus convert(const KernelSet& k, const ImageBuffer& dst, const ImageBuffer& src) {
    const ConvertRoutine routine = converter(k.routines, src.format, dst.format);
    if (routine == nullptr) {
        return PixelStatus::UnsupportedFormat;
    }
    routine(static_cast<int>(dst.width), static_cast<int>(dst.height), dst.pixels, dst.pitch,
            src.pixels, src.pitch);
    return PixelStatus::Ok;
}

PixelStatus resample(const KernelSet& k, const ImageBuffer& dst, const ImageBuffer& src) {
    const std::uint64_t sw = src.width;
    const std::uint64_t dw = dst.width;
    try {
        // Column taps: destination column x covers [x·sw, (x+1)·sw) in units where source
        // column i covers [i·dw, (i+1)·dw).
        std::vector<std::uint32_t> tapStart(dw + 1);
        std::vector<std::uint32_t> tapColumn;
        std::vector<std::uint32_t> tapWeight;
        tapColumn.reserve(sw + dw);
        tapWeight.reserve(sw + dw);
        for (std::uint64_t x = 0; x < dw; ++x) {
            tapStart[x] = static_cast<std::uint32_t>(tapColumn.size());
            const std::uint64_t lo = x * sw;
            const std::uint64_t hi = lo + sw;
            for (std::uint64_t i = lo / dw; i * dw < hi; ++i) {
                const std::uint64_t from = i * dw > lo ? i * dw : lo;
                const std::uint64_t to = (i + 1) * dw < hi ? (i + 1) * dw : hi;
                tapColumn.push_back(static_cast<std::uint32_t>(i));
                tapWeight.push_back(static_cast<std::uint32_t>(to - from));
            }
        }
        tapStart[dw] = static_cast<std::uint32_t>(tapColumn.size());
        std::vector<std::uint8_t> expanded(src.format == PixelFormat::Yuy2 ? sw * 3 : 0);
        std::vector<std::uint32_t> rowSums(dw * 4);
        std::vector<std::uint64_t> columnSums(dw * 4);
        std::vector<double> columnSumsReal(dw * 4);
        std::vector<std::uint8_t> packed(dw * 4);
        ResampleScratch scratch;
        scratch.srcWidth = src.width;
        scratch.srcHeight = src.height;
        scratch.tapStart = tapStart.data();
        scratch.tapColumn = tapColumn.data();
        scratch.tapWeight = tapWeight.data();
        scratch.expanded = expanded.data();
        scratch.rowSums = rowSums.data();
        scratch.columnSums = columnSums.data();
        scratch.columnSumsReal = columnSumsReal.data();
        scratch.packed = packed.data();
        resampler(k.routines, src.format)(static_cast<int>(dst.width), static_cast<int>(dst.height),
                                          dst.pixels, dst.pitch, src.pixels, src.pitch, scratch);
    } catch (const std::bad_alloc&) {
        return PixelStatus::OutOfMemory;
    }
    return PixelStatus::Ok;
}

// Converts one colour to the destination's layout with the plain routines, the reference for
// every other path.
PixelStatus pixelFor(PixelFormat format, std::uint32_t colour, int colourKind,
                     std::uint32_t* pixel) {
    const RoutineTable& t = plain::kernels().routines;
    const std::uint8_t c0 = colour & 0xFF;
    const std::uint8_t c1 = (colour >> 8) & 0xFF;
    const std::uint8_t c2 = (colour >> 16) & 0xFF;
    const std::uint8_t c3 = (colour >> 24) & 0xFF;
    std::uint8_t out[8] = {};
    if (colourKind == static_cast<int>(ColourKind::Rgb)) {
        const std::uint8_t bgra[8] = {c2, c1, c0, c3, c2, c1, c0, c3};
        switch (format) {
            case PixelFormat::Bgra32:
            case PixelFormat::Bgr24:
                std::copy(bgra, bgra + 4, out);
                break;
            case PixelFormat::Yuva32:
                t.bgra32ToYuva32(1, 1, out, 0, bgra, 0);
                break;
            case PixelFormat::Yuy2:
                t.bgra32ToYuy2(2, 1, out, 0, bgra, 0);
                break;
        }
    } else if (colourKind == static_cast<int>(ColourKind::YCbCr)) {
        const std::uint8_t yuva[4] = {c0, c1, c2, c3};
        switch (format) {
            case PixelFormat::Bgra32:
            case PixelFormat::Bgr24:
                t.yuva32ToBgra32(1, 1, out, 0, yuva, 0);
                break;
            case PixelFormat::Yuva32:
                std::copy(yuva, yuva + 4, out);
                break;
            case PixelFormat::Yuy2: {
                const std::uint8_t pair[4] = {c0, c1, c0, c2};
                std::copy(pair, pair + 4, out);
                break;
            }
        }
    } else {
        return PixelStatus::InvalidHandleOrColour;
    }
    if (format == PixelFormat::Bgr24) {
        out[3] = 0;
    }
    *pixel = static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
             static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
    return PixelStatus::Ok;
}

}  // namespace

PixelStatus validateImage(const ImageBuffer& image) {
    if (image.pixels == nullptr) {
        return PixelStatus::MissingBuffer;
    }
    if (!isValidFormat(image.format)) {
        return PixelStatus::UnsupportedFormat;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide ||
        image.height > kMaxSide) {
        return PixelStatus::InvalidSize;
    }
    if (static_cast<std::size_t>(std::abs(static_cast<long long>(image.pitch))) <
        rowBytes(image.format, image.width)) {
        return PixelStatus::InvalidSize;
    }
    return PixelStatus::Ok;
}

void prefaultImage(const ImageBuffer& image) {
    if (image.pixels == nullptr || image.pitch <= 0) {
        return;
    }
    std::uint8_t* memory = image.pixels;
    const std::size_t bytes = static_cast<std::size_t>(image.pitch) * image.height;
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kWorthIt = std::size_t{4} << 20;
    if (bytes < kWorthIt) {
        return;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = (start + kPage - 1) & ~std::uintptr_t{kPage - 1};
    const std::uintptr_t last = (start + bytes) & ~std::uintptr_t{kPage - 1};
    madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)memory;
    (void)bytes;
#endif
}

PixelStatus allocateImage(ImageBuffer* buffer, PixelFormat format, int width, int height) {
    if (buffer == nullptr) {
        return PixelStatus::MissingBuffer;
    }
    if (width <= 0 || height <= 0) {
        return PixelStatus::InvalidSize;
    }
    if (!isValidFormat(format)) {
        return PixelStatus::UnsupportedFormat;
    }
    if (static_cast<std::uint32_t>(width) > kMaxSide ||
        static_cast<std::uint32_t>(height) > kMaxSide) {
        return PixelStatus::InvalidSize;
    }
    const std::size_t pitch = alignedPitch(format, static_cast<std::uint32_t>(width));
    const std::size_t bytes = pitch * static_cast<std::size_t>(height);
    std::shared_ptr<std::uint8_t[]> memory(new (std::nothrow) std::uint8_t[bytes]);
    if (!memory) {
        return PixelStatus::OutOfMemory;
    }
    *buffer = ImageBuffer::wrap(format, static_cast<std::uint32_t>(width),
                                static_cast<std::uint32_t>(height),
                                static_cast<std::int32_t>(pitch), memory.get());
    buffer->storage = std::move(memory);
    return PixelStatus::Ok;
}

PixelStatus fillImage(const KernelSet& kernels, const ImageBuffer& buffer, std::uint32_t colour,
                      int colourKind) {
    if (const PixelStatus s = validateImage(buffer); s != PixelStatus::Ok) {
        return s;
    }
    std::uint32_t pixel = 0;
    if (const PixelStatus s = pixelFor(buffer.format, colour, colourKind, &pixel);
        s != PixelStatus::Ok) {
        return s;
    }
    const RoutineTable& t = kernels.routines;
    const FillRoutine routine = buffer.format == PixelFormat::Yuva32   ? t.fillYuva32
                                : buffer.format == PixelFormat::Bgra32 ? t.fillBgra32
                                : buffer.format == PixelFormat::Yuy2   ? t.fillYuy2
                                                                       : t.fillBgr24;
    routine(static_cast<int>(buffer.width), static_cast<int>(buffer.height), buffer.pixels,
            buffer.pitch, pixel);
    return PixelStatus::Ok;
}

PixelStatus copyImage(const KernelSet& kernels, const ImageBuffer& destination,
                      const ImageBuffer& source) {
    for (const ImageBuffer* image : {&destination, &source}) {
        if (const PixelStatus s = validateImage(*image); s != PixelStatus::Ok) {
            return s;
        }
    }
    const bool sizeMatches = sameSize(destination, source);
    if (destination.format == source.format) {
        if (sizeMatches) {
            kernels.routines.copyRows(rowBytes(source.format, source.width),
                                      static_cast<int>(source.height), destination.pixels,
                                      destination.pitch, source.pixels, source.pitch);
            return PixelStatus::Ok;
        }
        return resample(kernels, destination, source);
    }
    if (sizeMatches) {
        return convert(kernels, destination, source);
    }
    // Both differ: convert at whichever size has fewer pixels.
    const std::uint64_t dstPixels = std::uint64_t{destination.width} * destination.height;
    const std::uint64_t srcPixels = std::uint64_t{source.width} * source.height;
    ImageBuffer intermediate;
    if (dstPixels < srcPixels) {
        if (const PixelStatus s =
                allocateImage(&intermediate, source.format, static_cast<int>(destination.width),
                              static_cast<int>(destination.height));
            s != PixelStatus::Ok) {
            return s;
        }
        if (const PixelStatus s = resample(kernels, intermediate, source); s != PixelStatus::Ok) {
            return s;
        }
        return convert(kernels, destination, intermediate);
    }
    if (const PixelStatus s =
            allocateImage(&intermediate, destination.format, static_cast<int>(source.width),
                          static_cast<int>(source.height));
        s != PixelStatus::Ok) {
        return s;
    }
    if (const PixelStatus s = convert(kernels, intermediate, source); s != PixelStatus::Ok) {
        return s;
    }
    return resample(kernels, destination, intermediate);
}

PixelStatus mixImages(const KernelSet& kernels, const ImageBuffer& destination,
                      const ImageBuffer& a, const ImageBuffer& b, int weight, bool alphaAware) {
    for (const ImageBuffer* image : {&destination, &a, &b}) {
        if (const PixelStatus s = validateImage(*image); s != PixelStatus::Ok) {
            return s;
        }
    }
    if (a.format != destination.format || b.format != destination.format) {
        return PixelStatus::UnsupportedFormat;
    }
    if (!sameSize(a, destination) || !sameSize(b, destination)) {
        return PixelStatus::InvalidSize;
    }
    if (weight < 0 || weight > 4096) {
        return PixelStatus::InvalidHandleOrColour;
    }
    const int rows = static_cast<int>(destination.height);
    if (alphaAware) {
        if (!is32Bit(destination.format)) {
            return PixelStatus::UnsupportedFormat;
        }
        kernels.routines.mixAlpha(static_cast<int>(destination.width), rows, destination.pixels,
                                  destination.pitch, a.pixels, a.pitch, b.pixels, b.pitch, weight);
        return PixelStatus::Ok;
    }
    kernels.routines.mix(rowBytes(destination.format, destination.width), rows, destination.pixels,
                         destination.pitch, a.pixels, a.pitch, b.pixels, b.pitch, weight);
    return PixelStatus::Ok;
}

PixelStatus compositeImages(const KernelSet& kernels, const ImageBuffer& destination,
                            const ImageBuffer& source, int weight) {
    for (const ImageBuffer* image : {&destination, &source}) {
        if (const PixelStatus s = validateImage(*image); s != PixelStatus::Ok) {
            return s;
        }
    }
    if (!is32Bit(destination.format) || source.format != destination.format) {
        return PixelStatus::UnsupportedFormat;
    }
    if (!sameSize(source, destination)) {
        return PixelStatus::InvalidSize;
    }
    if (weight < 0 || weight > 4096) {
        return PixelStatus::InvalidHandleOrColour;
    }
    kernels.routines.composite(static_cast<int>(destination.width),
                               static_cast<int>(destination.height), destination.pixels,
                               destination.pitch, source.pixels, source.pitch, weight);
    return PixelStatus::Ok;
}

}  // namespace pm::detail
