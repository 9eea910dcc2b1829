#pragma once

// BGRA pictures to limited-range 8-bit 4:2:0 YUV, the format H.264 and VP9 files carry. Compiled
// into the modules that need it.

#include <cstddef>
#include <cstdint>

namespace pm::exporters {

enum class YuvMatrix { Bt601, Bt709 };

// Luma is 16 + 219/255 of the matrix's weighted sum of R, G and B; each chroma sample is taken from
// the mean of a 2 x 2 block (centred siting), 128 + 224/255 of the colour difference scaled to
// [-0.5, 0.5]. Weights are 15-bit fixed point, rounded once at the end, so every path gives the
// same bytes; grey stays exactly neutral. Odd sides repeat the last column or row.
class I420Converter {
public:
    explicit I420Converter(YuvMatrix matrix, bool allowVector = true);

    // Planes Y, U, V with their strides; `width` x `height` pixels of BGRA at `bgra`, rows `pitch`
    // bytes apart. Alpha is ignored.
    void convert(const std::uint8_t* bgra, std::ptrdiff_t pitch, int width, int height,
                 std::uint8_t* const planes[3], const int strides[3]) const;

    bool vectorised() const { return m_vector; }

    // 15-bit weights of B, G and R for Y, U and V.
    struct Weights {
        std::int16_t y[3];
        std::int16_t u[3];
        std::int16_t v[3];
    };

private:
    Weights m_weights{};
    bool m_vector = false;
};

}  // namespace pm::exporters
