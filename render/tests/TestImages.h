#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "render/ImageBuffer.h"
#include "render/RoutineTable.h"
#include "render/detail/KernelSet.h"

namespace pm::test {

// Rows in a block of random bytes with slack after each row, so writes outside a row show up
// when whole blocks are compared. A bottom-up image starts at its last row with a negative pitch.
struct TestImage {
    std::vector<std::uint8_t> memory;
    std::uint8_t* top = nullptr;
    std::ptrdiff_t pitch = 0;

    TestImage() = default;
    TestImage(std::size_t rowBytes, int rows, bool bottomUp, std::mt19937& rng) {
        const std::size_t stride = rowBytes + 7;
        memory.resize(stride * static_cast<std::size_t>(rows));
        for (std::uint8_t& b : memory) {
            b = static_cast<std::uint8_t>(rng());
        }
        attach(stride, rows, bottomUp);
    }
    TestImage(const TestImage& other) : memory(other.memory) {
        top = memory.data() + (other.top - other.memory.data());
        pitch = other.pitch;
    }
    TestImage& operator=(const TestImage&) = delete;

    void attach(std::size_t stride, int rows, bool bottomUp) {
        pitch =
            bottomUp ? -static_cast<std::ptrdiff_t>(stride) : static_cast<std::ptrdiff_t>(stride);
        top =
            bottomUp ? memory.data() + stride * static_cast<std::size_t>(rows - 1) : memory.data();
    }
    ImageBuffer buffer(PixelFormat format, int width, int height) const {
        return ImageBuffer::wrap(format, static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height),
                                 static_cast<std::int32_t>(pitch), top);
    }
};

// The code paths this processor can run.
inline std::vector<CodePath> availablePaths() {
    std::vector<CodePath> paths;
    for (CodePath p : {CodePath::Plain, CodePath::Sse2, CodePath::Avx2}) {
        if (detail::codePathAvailable(p)) {
            paths.push_back(p);
        }
    }
    return paths;
}

inline const RoutineTable& pathRoutines(CodePath p) {
    return detail::kernelsFor(p).routines;
}

inline const char* pathName(CodePath p) {
    return p == CodePath::Plain ? "plain" : (p == CodePath::Sse2 ? "sse2" : "avx2");
}

}  // namespace pm::test
