#pragma once

#include <cstddef>
#include <cstdint>

namespace pm {

// Which build of the routines runs: plain C++, 128-bit vectors, or 256-bit vectors.
enum class CodePath { Plain, Sse2, Avx2 };

// Precomputed column taps and work rows for one resampling job (built by the pixel library).
struct ResampleScratch {
    std::uint32_t srcWidth = 0;
    std::uint32_t srcHeight = 0;
    const std::uint32_t* tapStart = nullptr;   // dstWidth + 1 offsets into the two arrays below
    const std::uint32_t* tapColumn = nullptr;  // source column of each tap
    const std::uint32_t* tapWeight = nullptr;  // covered width, in 1/dstWidth of a column
    std::uint8_t* expanded = nullptr;          // one source row, one byte per channel
    std::uint32_t* rowSums = nullptr;          // dstWidth × 4
    std::uint64_t* columnSums = nullptr;       // dstWidth × 4
    double* columnSumsReal = nullptr;          // dstWidth × 4, exact below 2^53
    std::uint8_t* packed = nullptr;            // dstWidth × 4
};

// Every routine works on whole rows: a width (in pixels, or bytes where named), a row count, the
// destination with its signed pitch, the source(s) with theirs, then an extra argument.
using CopyRowsRoutine = void (*)(std::size_t bytes, int rows, std::uint8_t* dst,
                                 std::ptrdiff_t dstPitch, const std::uint8_t* src,
                                 std::ptrdiff_t srcPitch);
using ConvertRoutine = void (*)(int width, int rows, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                                const std::uint8_t* src, std::ptrdiff_t srcPitch);
// `pixel` is already in the destination's layout (a whole pair for Yuy2).
using FillRoutine = void (*)(int width, int rows, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                             std::uint32_t pixel);
// Width and rows are the destination's; the source size travels in the scratch.
using ResampleRoutine = void (*)(int width, int rows, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                                 const std::uint8_t* src, std::ptrdiff_t srcPitch,
                                 const ResampleScratch& scratch);
// Weights are 12-bit: 0 gives a, 4096 gives b. The byte mix takes a byte count.
using MixBytesRoutine = void (*)(std::size_t bytes, int rows, std::uint8_t* dst,
                                 std::ptrdiff_t dstPitch, const std::uint8_t* a,
                                 std::ptrdiff_t aPitch, const std::uint8_t* b,
                                 std::ptrdiff_t bPitch, int weight);
using MixPixelsRoutine = void (*)(int width, int rows, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                                  const std::uint8_t* a, std::ptrdiff_t aPitch,
                                  const std::uint8_t* b, std::ptrdiff_t bPitch, int weight);
// Draws src over dst in place.
using CompositeRoutine = void (*)(int width, int rows, std::uint8_t* dst, std::ptrdiff_t dstPitch,
                                  const std::uint8_t* src, std::ptrdiff_t srcPitch, int weight);

// The 24 routines, in their fixed order.
struct RoutineTable {
    CopyRowsRoutine copyRows;        // 0
    ConvertRoutine bgra32ToYuy2;     // 1
    ConvertRoutine yuy2ToBgra32;     // 2
    ConvertRoutine bgr24ToYuy2;      // 3
    ConvertRoutine yuy2ToBgr24;      // 4
    ConvertRoutine bgr24ToBgra32;    // 5
    ConvertRoutine bgra32ToBgr24;    // 6
    ConvertRoutine bgra32ToYuva32;   // 7
    ConvertRoutine yuva32ToBgra32;   // 8
    ConvertRoutine bgr24ToYuva32;    // 9
    ConvertRoutine yuva32ToBgr24;    // 10
    ConvertRoutine yuy2ToYuva32;     // 11
    ConvertRoutine yuva32ToYuy2;     // 12
    FillRoutine fillYuva32;          // 13
    FillRoutine fillBgra32;          // 14
    FillRoutine fillYuy2;            // 15
    FillRoutine fillBgr24;           // 16
    ResampleRoutine resampleYuva32;  // 17
    ResampleRoutine resampleBgra32;  // 18
    ResampleRoutine resampleYuy2;    // 19
    ResampleRoutine resampleBgr24;   // 20
    MixBytesRoutine mix;             // 21
    MixPixelsRoutine mixAlpha;       // 22
    CompositeRoutine composite;      // 23
};

}  // namespace pm
