#include "render/EdgeSmoother.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace pm {

namespace {

constexpr double kMargin = 0.0001;
constexpr std::size_t kBatch = 32;

// Part of the unit interval [0, 1] below `v` along one axis, integrated over the other: the area
// of a unit cell on the low side of a line that runs from height `a` to height `b` across it
// (heights measured from the cell's low edge).
double areaBelow(double a, double b) {
    const auto clamp01 = [](double v) { return std::clamp(v, 0.0, 1.0); };
    if (a == b) {
        return clamp01(a);
    }
    // The integral of clamp(a + (b - a) t, 0, 1) over t in [0, 1], piece by piece.
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    const double span = hi - lo;
    const auto integral = [&](double from, double to) {
        // Integral of clamp(v, 0, 1) dv over [from, to].
        const auto f = [](double v) {
            if (v <= 0.0) {
                return 0.0;
            }
            if (v >= 1.0) {
                return 0.5 + (v - 1.0);
            }
            return 0.5 * v * v;
        };
        return f(to) - f(from);
    };
    return integral(lo, hi) / span;
}

struct PixelWrite {
    std::uint8_t* pixel;
    std::array<std::uint8_t, 4> value;
    int bytes;
};

class Walker {
public:
    Walker(const ImageBuffer& target, const EdgeSmoother::Options& options)
        : m_target(target),
          m_options(options),
          m_width(static_cast<int>(target.width)),
          m_height(static_cast<int>(target.height)),
          m_bytes(bytesPerPixel(target.format)),
          m_rowStep(options.fields != FieldMode::Frame ? 2 : 1) {}

    ~Walker() { flush(); }

    bool rowInField(int y) const {
        if (m_options.fields == FieldMode::First) {
            return (y & 1) == 0;
        }
        if (m_options.fields == FieldMode::Second) {
            return (y & 1) == 1;
        }
        return true;
    }

    // Rewrites pixel (x, y) from the pixels at `d` before and after it across the edge; `a` is
    // the weight of the one before (above, or left).
    void mix(int x, int y, double a, bool vertical) {
        if (x < 0 || y < 0 || x >= m_width || y >= m_height || !rowInField(y)) {
            return;
        }
        int bx, by, ax, ay;
        if (vertical) {
            // Across a mostly vertical edge: left and right neighbours.
            if (x == 0 || x == m_width - 1) {
                return;
            }
            bx = x - 1;
            ax = x + 1;
            by = ay = y;
        } else {
            if (y == 0 || y == m_height - 1) {
                return;
            }
            bx = ax = x;
            by = clampRow(y - m_rowStep, y);
            ay = clampRow(y + m_rowStep, y);
        }
        const std::uint8_t* before = pixel(bx, by);
        const std::uint8_t* after = pixel(ax, ay);
        PixelWrite w{pixel(x, y), {}, 0};
        std::memcpy(w.value.data(), w.pixel, static_cast<std::size_t>(std::min(m_bytes, 4)));
        const double b = 1.0 - a;
        if (m_target.format == PixelFormat::Yuy2) {
            w.value[0] = static_cast<std::uint8_t>(a * before[0] + b * after[0]);
            w.bytes = 1;
        } else {
            for (int c = 0; c < 3; ++c) {
                w.value[c] = static_cast<std::uint8_t>(a * before[c] + b * after[c]);
            }
            w.bytes = m_bytes;
            if (m_options.keepAlpha && m_bytes == 4) {
                const std::uint8_t alphaBefore = before[3];
                const std::uint8_t alphaAfter = after[3];
                if (alphaBefore > 128 || alphaAfter > 128) {
                    w.value[3] = static_cast<std::uint8_t>(a * alphaBefore + b * alphaAfter);
                    const std::uint8_t* opaque = alphaBefore > alphaAfter ? before
                                                 : alphaAfter > alphaBefore
                                                     ? after
                                                     : (b >= a ? after : before);
                    std::memcpy(w.value.data(), opaque, 3);
                } else {
                    std::memcpy(w.value.data(), w.pixel, 3);
                    w.value[3] = 0;
                }
            }
        }
        m_pending[m_count++] = w;
        if (m_count == kBatch) {
            flush();
        }
    }

    void flush() {
        for (std::size_t i = 0; i < m_count; ++i) {
            std::memcpy(m_pending[i].pixel, m_pending[i].value.data(),
                        static_cast<std::size_t>(m_pending[i].bytes));
        }
        m_count = 0;
    }

    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int clampRow(int row, int y) const {
        int r = std::clamp(row, 0, m_height - 1);
        // In a field, neighbours come from the same field.
        if (m_options.fields != FieldMode::Frame && ((r ^ y) & 1)) {
            r = r > y ? r - 1 : r + 1;
        }
        return r;
    }
    std::uint8_t* pixel(int x, int y) const {
        return m_target.row(static_cast<std::uint32_t>(y)) +
               static_cast<std::ptrdiff_t>(x) * m_bytes;
    }

    const ImageBuffer& m_target;
    EdgeSmoother::Options m_options;
    int m_width;
    int m_height;
    int m_bytes;
    int m_rowStep;
    std::array<PixelWrite, kBatch> m_pending{};
    std::size_t m_count = 0;
};

}  // namespace

void EdgeSmoother::smoothSegment(const ImageBuffer& target, double x0, double y0, double x1,
                                 double y1, const Options& options) {
    if (!target.pixels || target.width < 3 || target.height < 3) {
        return;
    }
    const double width = target.width;
    const double height = target.height;
    if ((x0 < 1 && x1 < 1) || (y0 < 1 && y1 < 1) || (x0 > width - 2 && x1 > width - 2) ||
        (y0 > height - 2 && y1 > height - 2)) {
        return;
    }
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
        return;
    }
    Walker walker(target, options);
    const double dx = x1 - x0;
    const double dy = y1 - y0;

    if (dy == 0.0 || dx == 0.0) {
        // Straight along a row or a column: the weight is where the edge sits in the pixel.
        const bool vertical = dx == 0.0;
        double from = vertical ? std::min(y0, y1) : std::min(x0, x1);
        double to = vertical ? std::max(y0, y1) : std::max(x0, x1);
        const double at = vertical ? x0 : y0;
        const double limit = vertical ? height : width;
        from = std::max(std::ceil(from + kMargin), 0.0);
        to = std::min(std::floor(to - kMargin), limit);
        const int line = static_cast<int>(std::floor(at));
        const double a = at - std::floor(at);
        for (int i = static_cast<int>(from); i < static_cast<int>(to); ++i) {
            if (vertical) {
                walker.mix(line, i, a, true);
            } else {
                walker.mix(i, line, a, false);
            }
        }
        return;
    }

    // Order by x, then decide which axis to walk; the thresholds are deliberately asymmetric.
    if (x1 < x0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const double k = (y1 - y0) / (x1 - x0);
    const bool alongX = (k > 0.0 && k < 0.75) || (k <= 0.0 && k > -0.3);
    if (alongX) {
        // Columns fully crossed by the segment, from the first boundary inside it to the last.
        const int first = static_cast<int>(std::max(std::ceil(x0 + kMargin), 0.0));
        const int last = static_cast<int>(std::min(std::floor(x1 - kMargin), width));
        for (int i = first; i < last; ++i) {
            const double ya = y0 + k * (i - x0);
            const double yb = y0 + k * (i + 1 - x0);
            const int top = static_cast<int>(std::floor(std::min(ya, yb)));
            const int bottom = static_cast<int>(std::floor(std::max(ya, yb)));
            for (int j = top; j <= bottom; ++j) {
                // Part of the pixel above the line (the line's height in the pixel, from its top).
                const double a = areaBelow(ya - j, yb - j);
                walker.mix(i, j, a, false);
            }
        }
    } else {
        if (y1 < y0) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        const double m = (x1 - x0) / (y1 - y0);
        const int first = static_cast<int>(std::max(std::ceil(y0 + kMargin), 0.0));
        const int last = static_cast<int>(std::min(std::floor(y1 - kMargin), height));
        for (int j = first; j < last; ++j) {
            const double xa = x0 + m * (j - y0);
            const double xb = x0 + m * (j + 1 - y0);
            const int left = static_cast<int>(std::floor(std::min(xa, xb)));
            const int right = static_cast<int>(std::floor(std::max(xa, xb)));
            for (int i = left; i <= right; ++i) {
                const double a = areaBelow(xa - i, xb - i);
                walker.mix(i, j, a, true);
            }
        }
    }
}

void EdgeSmoother::smooth(const ImageBuffer& target, const Mesh& mesh, double targetWidth,
                          const Options& options) {
    if (mesh.empty()) {
        return;
    }
    const double limit = 3.0 / targetWidth;
    const auto inFront = [limit](const MeshVertex& v) { return v.w > 0.0f && v.w < limit; };
    const auto segment = [&](const MeshVertex& a, const MeshVertex& b) {
        if (inFront(a) && inFront(b)) {
            smoothSegment(target, a.x, a.y, b.x, b.y, options);
        }
    };
    const int rows = mesh.rows();
    const int columns = mesh.columns();
    for (int j = 0; j + 1 < rows; ++j) {
        segment(mesh.at(j, 0), mesh.at(j + 1, 0));
        segment(mesh.at(j, columns - 1), mesh.at(j + 1, columns - 1));
    }
    for (int k = 0; k + 1 < columns; ++k) {
        segment(mesh.at(0, k), mesh.at(0, k + 1));
        segment(mesh.at(rows - 1, k), mesh.at(rows - 1, k + 1));
    }
}

}  // namespace pm
