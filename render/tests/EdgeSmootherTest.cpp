#include <gtest/gtest.h>

#include <vector>

#include "render/EdgeSmoother.h"
#include "render/PerfKit.h"

namespace pm {
namespace {

// A Bgra32 picture whose rows above `edgeRow` are black and the rest white (grey 200, alpha 255).
struct Canvas {
    std::vector<std::uint8_t> bytes;
    ImageBuffer image;
    Canvas(int w, int h, int edgeRow, std::uint8_t alphaTop = 255, std::uint8_t alphaBottom = 255)
        : bytes(static_cast<std::size_t>(w * h * 4)) {
        image = ImageBuffer::wrap(PixelFormat::Bgra32, w, h, w * 4, bytes.data());
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = image.row(y) + x * 4;
                const bool top = y < edgeRow;
                p[0] = p[1] = p[2] = top ? 0 : 200;
                p[3] = top ? alphaTop : alphaBottom;
            }
        }
    }
    const std::uint8_t* at(int x, int y) const { return image.row(y) + x * 4; }
};

TEST(EdgeSmoother, WeightsEachCrossedPixelByItsShareAboveTheLine) {
    struct Case {
        const char* what;
        double x0, y0, x1, y1;
        int column, row;
        int expected;
    };
    // The picture starts at row 10; its true edge runs through row 10 (rows below are white).
    const Case cases[] = {
        {"horizontal at a quarter", 0.5, 10.25, 20.5, 10.25, 5, 10, 150},  // 0.25 x 0 + 0.75 x 200
        // Across column 10 the line runs from 10.5 to 10.6: 0.55 of the pixel lies above it.
        {"gentle slope", 0.0, 9.5, 20.0, 11.5, 10, 10, 90},
    };
    for (const Case& c : cases) {
        Canvas canvas(24, 24, 11);
        // Row 10 starts white-ish like the picture and is rewritten from rows 9 and 11.
        EdgeSmoother::smoothSegment(canvas.image, c.x0, c.y0, c.x1, c.y1, {});
        EXPECT_EQ(canvas.at(c.column, c.row)[0], c.expected) << c.what;
        EXPECT_EQ(canvas.at(c.column, 5)[0], 0) << c.what;     // far above: untouched
        EXPECT_EQ(canvas.at(c.column, 15)[0], 200) << c.what;  // far below: untouched
    }
}

TEST(EdgeSmoother, SegmentsOutsideTheTargetDoNothing) {
    Canvas canvas(16, 16, 8);
    const std::vector<std::uint8_t> before = canvas.bytes;
    EdgeSmoother::smoothSegment(canvas.image, -40, -5, -2, 30, {});  // left of the target
    EdgeSmoother::smoothSegment(canvas.image, 2, 0.5, 14, 0.5, {});  // along the first row
    EdgeSmoother::smoothSegment(canvas.image, 2, 1e300, 14, -1e300, {});
    EXPECT_EQ(canvas.bytes, before);
}

TEST(EdgeSmoother, FieldsTouchOnlyTheirOwnRows) {
    Canvas canvas(16, 16, 9);
    EdgeSmoother::Options second;
    second.fields = FieldMode::Second;  // odd rows
    EdgeSmoother::smoothSegment(canvas.image, 0.5, 8.5, 15.5, 8.5, second);
    // Row 8 is even: left alone. A line at 9.5 is in an odd row and mixes rows 7 and 11.
    EXPECT_EQ(canvas.at(4, 8)[0], 0);
    EdgeSmoother::smoothSegment(canvas.image, 0.5, 9.5, 15.5, 9.5, second);
    EXPECT_EQ(canvas.at(4, 9)[0], 100);
}

TEST(EdgeSmoother, AlphaFollowsTheMoreOpaqueSide) {
    Canvas canvas(16, 16, 8, /*alphaTop=*/0, /*alphaBottom=*/255);
    EdgeSmoother::Options keep;
    keep.keepAlpha = true;
    EdgeSmoother::smoothSegment(canvas.image, 0.5, 8.25, 15.5, 8.25, keep);
    const std::uint8_t* p = canvas.at(4, 8);
    EXPECT_EQ(p[3], 191);  // 0.25 x 0 + 0.75 x 255, truncated
    EXPECT_EQ(p[0], 200);  // colour of the opaque neighbour, not a mix with the clear one

    Canvas clear(16, 16, 8, 0, 100);  // both sides mostly clear
    EdgeSmoother::smoothSegment(clear.image, 0.5, 8.25, 15.5, 8.25, keep);
    EXPECT_EQ(clear.at(4, 8)[3], 0);
}

}  // namespace
}  // namespace pm
