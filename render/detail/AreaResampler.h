#pragma once

#include <cstdint>
#include <vector>

#include "render/ImageBuffer.h"

namespace pm::detail {

// Exact area averaging between two fixed sizes of Bgra32 (or any 4-byte) pixels, row by row:
// each destination row depends only on the source rows it covers, so rows can be made in any
// order, in bands on several threads, or as soon as their source rows exist. The bytes are those
// of the pixel library's resampling.
class AreaResampler {
public:
    AreaResampler(std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                  std::uint32_t destinationWidth, std::uint32_t destinationHeight);

    // False for sizes beyond what the fast sums hold; use the pixel library then.
    bool usable() const { return m_usable; }
    // The last source row destination row `y` reads.
    std::uint32_t lastSourceRow(std::uint32_t y) const {
        return static_cast<std::uint32_t>((std::uint64_t{y + 1} * m_sh - 1) / m_dh);
    }
    // Destination rows whose source rows lie within the first `sourceRows`.
    std::uint32_t rowsFrom(std::uint32_t sourceRows) const {
        return static_cast<std::uint32_t>(std::uint64_t{sourceRows} * m_dh / m_sh);
    }
    // Makes destination rows [first, end). Both buffers have the sizes given at construction.
    void run(const ImageBuffer& destination, const ImageBuffer& source, std::uint32_t first,
             std::uint32_t end) const;

private:
    std::uint32_t m_sw;
    std::uint32_t m_sh;
    std::uint32_t m_dw;
    std::uint32_t m_dh;
    bool m_usable = false;
    double m_reciprocal = 0.0;
    // Destination column x reads m_taps source columns from m_firstColumn[x] with the weights
    // m_weights[x·m_taps ..].
    std::uint32_t m_taps = 0;
    std::vector<std::uint32_t> m_firstColumn;
    std::vector<double> m_weights;
    // Turns one row's column sums into pixels: the routine for this tap count and processor.
    using SumColumns = void (*)(std::uint8_t* out, const std::int32_t* sums,
                                const std::uint32_t* firstColumn, std::uint32_t taps,
                                const double* weights, std::uint32_t width, double reciprocal);
    SumColumns m_sumColumns = nullptr;
    // Most level steps have sizes with large common factors (6000 to 4200 is 10 to 7): with the
    // weights divided by them the sums fit 16 bits and the columns are weighed two at a time.
    bool m_narrow = false;
    std::uint32_t m_rowUnit = 1;
    std::uint32_t m_pairs = 0;
    std::vector<std::int32_t> m_pairWeights;
    using SumColumnsNarrow = void (*)(std::uint8_t* out, const std::int16_t* sums,
                                      const std::uint32_t* firstColumn, std::uint32_t pairs,
                                      const std::int32_t* pairWeights, std::uint32_t width,
                                      double reciprocal);
    SumColumnsNarrow m_sumColumnsNarrow = nullptr;
};

}  // namespace pm::detail
