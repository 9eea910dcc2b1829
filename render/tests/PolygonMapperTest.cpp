#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/CameraGeometry.h"
#include "render/PolygonMapper.h"
#include "render/detail/MapperSpans.h"

namespace pm {
namespace {

using Quad = std::array<MeshVertex, 4>;

struct Picture {
    int width = 0;
    int height = 0;
    KernelLayout layout = KernelLayout::Bgra32;
    std::vector<std::uint8_t> bytes;

    Picture(int w, int h, KernelLayout l = KernelLayout::Bgra32) : width(w), height(h), layout(l) {
        bytes.assign(static_cast<std::size_t>(pitch()) * h, 0);
    }
    int bytesPerPixel() const { return layout == KernelLayout::Yuy2 ? 2 : 4; }
    int pitch() const { return width * bytesPerPixel(); }
    std::uint8_t* at(int x, int y) { return bytes.data() + y * pitch() + x * bytesPerPixel(); }
    const std::uint8_t* at(int x, int y) const {
        return bytes.data() + y * pitch() + x * bytesPerPixel();
    }
    KernelBitmap bitmap(int fieldSelector = 0) {
        KernelBitmap b;
        b.width = width;
        b.height = height;
        b.pitch = pitch();
        b.pixels = bytes.data();
        b.bytesPerPixel = bytesPerPixel();
        b.fieldSelector = fieldSelector;
        b.layout = layout;
        return b;
    }
    void fill(std::uint32_t bgra) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 4; ++c) {
                    at(x, y)[c] = static_cast<std::uint8_t>(bgra >> (8 * c));
                }
            }
        }
    }
};

Picture noise(int w, int h, std::uint32_t seed, KernelLayout layout = KernelLayout::Bgra32) {
    Picture p(w, h, layout);
    for (auto& b : p.bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return p;
}

// Gentle gradients: a 1/128 pixel difference in where a sample falls moves no channel by a level.
Picture smooth(int w, int h) {
    Picture p(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* q = p.at(x, y);
            q[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x / 9.0 + y / 13.0));
            q[1] = static_cast<std::uint8_t>(128 + 100 * std::cos(x / 11.0 - y / 7.0));
            q[2] = static_cast<std::uint8_t>(40 + (x + 2 * y) % 160 / 2);
            q[3] = 255;
        }
    }
    return p;
}

MeshVertex vertex(double u, double v, double x, double y) {
    return {static_cast<float>(u), static_cast<float>(v), 1.0f, static_cast<float>(x),
            static_cast<float>(y)};
}

// The source rectangle w x h onto the parallelogram origin + u a + v b (per source pixel).
Quad parallelogram(double w, double h, double ox, double oy, double ax, double ay, double bx,
                   double by) {
    const auto at = [&](double u, double v) {
        return vertex(u, v, ox + u * ax + v * bx, oy + u * ay + v * by);
    };
    return {at(0, 0), at(w, 0), at(w, h), at(0, h)};
}

// The same parallelogram cut into n x n cells.
std::vector<Quad> grid(int n, double w, double h, double ox, double oy, double ax, double ay,
                       double bx, double by) {
    std::vector<Quad> cells;
    const auto at = [&](int i, int j) {
        const double u = w * i / n;
        const double v = h * j / n;
        return vertex(u, v, ox + u * ax + v * bx, oy + u * ay + v * by);
    };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            cells.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    return cells;
}

std::vector<Quad> cellsOf(const Mesh& mesh, double targetWidth) {
    std::vector<Quad> cells;
    for (int j = 0; j + 1 < mesh.rows(); ++j) {
        for (int k = 0; k + 1 < mesh.columns(); ++k) {
            if (cellVisible(mesh, j, k, targetWidth)) {
                cells.push_back(
                    {mesh.at(j, k), mesh.at(j, k + 1), mesh.at(j + 1, k + 1), mesh.at(j + 1, k)});
            }
        }
    }
    return cells;
}

struct DrawSettings {
    MapperPath path = MapperPath::Best;
    int fieldSelector = 0;
    std::uint32_t options = 0;
    std::uint32_t flags = 0;
    int firstRow = 0;
};

void draw(const KernelBitmap& target, Picture& source, const std::vector<Quad>& cells,
          const DrawSettings& settings = {}) {
    RenderSurface surface;
    ASSERT_TRUE(surface.create(target, settings.options));
    surface.path = settings.path;
    surface.firstRow = settings.firstRow;
    for (const Quad& q : cells) {
        ASSERT_TRUE(mapPolygon(surface, surface.coverage.get(), source.bitmap(), q.data(), 4,
                               settings.flags | surface.kernelFlags | 0x20));
    }
    surface.finish();
}

void draw(Picture& dest, Picture& source, const std::vector<Quad>& cells,
          const DrawSettings& settings = {}) {
    draw(dest.bitmap(settings.fieldSelector), source, cells, settings);
}

int maxDifference(const Picture& a, const Picture& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.bytes.size(); ++i) {
        worst = std::max(worst, std::abs(a.bytes[i] - b.bytes[i]));
    }
    return worst;
}

const MapperPath kPaths[] = {MapperPath::Scalar, MapperPath::Sse2, MapperPath::Avx2};

TEST(PolygonMapper, OwnRectangleReproducesThePicture) {
    for (MapperPath path : kPaths) {
        for (auto [w, h] : {std::pair{37, 23}, std::pair{300, 41}}) {
            Picture source = noise(w, h, 7);
            Picture dest(w, h);
            draw(dest, source, {parallelogram(w, h, 0, 0, 1, 0, 0, 1)}, {path});
            EXPECT_EQ(dest.bytes, source.bytes) << w << " path " << static_cast<int>(path);
        }
    }
}

TEST(PolygonMapper, HalfPixelShiftAveragesNeighbours) {
    const int w = 150;
    const int h = 9;
    Picture source = noise(w, h, 11);
    for (bool vertical : {false, true}) {
        Picture dest(w, h);
        const double dx = vertical ? 0.0 : 0.5;
        const double dy = vertical ? 0.5 : 0.0;
        draw(dest, source, {parallelogram(w, h, dx, dy, 1, 0, 0, 1)});
        for (int y = 1; y < h; ++y) {
            for (int x = 1; x < w; ++x) {
                const std::uint8_t* a = source.at(x - (vertical ? 0 : 1), y - (vertical ? 1 : 0));
                const std::uint8_t* b = source.at(x, y);
                for (int c = 0; c < 4; ++c) {
                    ASSERT_EQ(dest.at(x, y)[c], (a[c] + b[c] + 1) / 2)
                        << "pixel " << x << "," << y << " vertical " << vertical;
                }
            }
        }
    }
}

TEST(PolygonMapper, CentreOfMassFollowsSubPixelSteps) {
    // A soft blob well inside its picture, so edges and clamping play no part.
    Picture source(24, 24);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            const double r2 = (x - 11.3) * (x - 11.3) + (y - 12.6) * (y - 12.6);
            source.at(x, y)[1] = static_cast<std::uint8_t>(250 * std::exp(-r2 / 18.0));
        }
    }
    for (double angle : {0.0, 0.5}) {
        const double c = std::cos(angle) * 1.7;
        const double s = std::sin(angle) * 1.7;
        double first = 0.0;
        for (int step = 0; step <= 20; ++step) {
            const double shift = 0.1 * step;
            Picture dest(80, 80);
            draw(dest, source, {parallelogram(24, 24, 20 + shift, 15 + 0.3 * shift, c, s, -s, c)});
            double mass = 0.0;
            double mx = 0.0;
            for (int y = 0; y < 80; ++y) {
                for (int x = 0; x < 80; ++x) {
                    mass += dest.at(x, y)[1];
                    mx += dest.at(x, y)[1] * (x + 0.5);
                }
            }
            const double centre = mx / mass;
            if (step == 0) {
                first = centre;
            }
            EXPECT_NEAR(centre - first, shift, 0.01) << "angle " << angle << " step " << step;
        }
    }
}

// Whether the pixel square (x, y) lies entirely outside the convex quad.
bool squareOutside(const Quad& q, int x, int y) {
    double area = 0.0;
    for (int i = 0; i < 4; ++i) {
        area += q[i].x * q[(i + 1) % 4].y - q[(i + 1) % 4].x * q[i].y;
    }
    const double sign = area > 0.0 ? 1.0 : -1.0;
    for (int i = 0; i < 4; ++i) {
        const MeshVertex& a = q[i];
        const MeshVertex& b = q[(i + 1) % 4];
        const double nx = (b.y - a.y) * sign;
        const double ny = (a.x - b.x) * sign;
        bool allOut = true;
        for (int k = 0; k < 4; ++k) {
            const double px = x + (k & 1);
            const double py = y + (k >> 1);
            if ((px - a.x) * nx + (py - a.y) * ny <= 1e-9) {
                allOut = false;
            }
        }
        if (allOut) {
            return true;
        }
    }
    return false;
}

TEST(PolygonMapper, PixelsOutsideThePolygonKeepTheirBytes) {
    Picture source = noise(64, 48, 3);
    const Picture before = noise(120, 90, 99);
    const Quad quads[] = {
        parallelogram(64, 48, 30.3, 10.7, 0.9, 0.4, -0.35, 1.1),  // clockwise on screen
        {vertex(0, 0, 20.2, 80.1), vertex(64, 0, 101.7, 85.4), vertex(64, 48, 90.5, 5.5),
         vertex(0, 48, 35.0, 12.25)},  // other winding, not a parallelogram
    };
    for (const Quad& q : quads) {
        Picture dest = before;
        draw(dest, source, {q});
        int outside = 0;
        int changed = 0;
        for (int y = 0; y < 90; ++y) {
            for (int x = 0; x < 120; ++x) {
                const bool same = std::equal(dest.at(x, y), dest.at(x, y) + 4, before.at(x, y));
                if (squareOutside(q, x, y)) {
                    ++outside;
                    ASSERT_TRUE(same) << "pixel " << x << "," << y;
                } else if (!same) {
                    ++changed;
                }
            }
        }
        EXPECT_GT(outside, 3000);
        EXPECT_GT(changed, 2000);
    }
}

TEST(PolygonMapper, MeshesOfAFlatPictureMatchASingleCell) {
    Picture source = smooth(200, 150);
    struct Case {
        const char* what;
        double ox, oy, ax, ay, bx, by;
    };
    const Case cases[] = {
        {"scaled", 10.3, 7.6, 1.153, 0.0, 0.0, 1.1187},
        {"rotated", 60.25, -20.4, 0.98, 0.52, -0.52, 0.98},
    };
    for (const Case& c : cases) {
        Picture single(256, 192);
        single.fill(0xFF0000FFu);
        Picture reference = single;
        draw(single, source, {parallelogram(200, 150, c.ox, c.oy, c.ax, c.ay, c.bx, c.by)},
             {.options = RenderSurface::kOptionAlpha});
        for (int n : {2, 20}) {
            Picture meshed = reference;
            draw(meshed, source, grid(n, 200, 150, c.ox, c.oy, c.ax, c.ay, c.bx, c.by),
                 {.options = RenderSurface::kOptionAlpha});
            EXPECT_LE(maxDifference(single, meshed), 1) << c.what << " " << n << " x " << n;
        }
    }
}

TEST(PolygonMapper, PlacedMeshesMatchASingleCellAndLeaveNoSeam) {
    Picture source = smooth(200, 150);
    CameraValues camera;
    camera.s = 0.7f;
    camera.r = 0.4f;
    camera.px = 0.45f;
    const RenderTarget target{320, 240, 4.0 / 3.0, 1.0};
    Mesh one;
    Mesh many;
    ASSERT_TRUE(placeMesh(one, camera, 200, 150, {2, 2}, target));
    ASSERT_TRUE(placeMesh(many, camera, 200, 150, {21, 21}, target));
    Picture single(320, 240);
    single.fill(0x00FF00FFu);
    Picture meshed = single;
    const DrawSettings alpha{.options = RenderSurface::kOptionAlpha};
    draw(single, source, cellsOf(one, 320), alpha);
    draw(meshed, source, cellsOf(many, 320), alpha);
    EXPECT_LE(maxDifference(single, meshed), 1);

    // Where cells meet inside the picture the coverage adds up to exactly full.
    const std::vector<Quad> cells = cellsOf(many, 320);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            if (single.at(x, y)[3] == 255) {
                ASSERT_EQ(meshed.at(x, y)[3], 255) << x << "," << y;
            }
        }
    }
}

TEST(PolygonMapper, TiltedMeshMatchesOneProjectiveCell) {
    Picture source = smooth(200, 150);
    CameraValues camera;
    camera.s = 0.6f;
    camera.a = 0.5f;
    camera.b = -0.3f;
    camera.dist = 2.0f;
    const RenderTarget target{320, 240, 4.0 / 3.0, 1.0};
    Mesh many;
    ASSERT_TRUE(placeMesh(many, camera, 200, 150, {31, 31}, target));
    const int last = many.columns() - 1;
    const Quad whole{many.at(0, 0), many.at(0, last), many.at(last, last), many.at(last, 0)};
    Picture single(320, 240);
    Picture meshed(320, 240);
    draw(single, source, {whole});
    draw(meshed, source, cellsOf(many, 320));
    EXPECT_LE(maxDifference(single, meshed), 1);
    EXPECT_GT(std::count(single.bytes.begin(), single.bytes.end(), 0), 0);  // not all covered
}

std::vector<Quad> blocksOf(const Mesh& mesh, double targetWidth) {
    std::vector<Quad> quads;
    for (const CellBlock& block : visibleBlocks(mesh, targetWidth)) {
        quads.push_back(blockCorners(mesh, block));
    }
    return quads;
}

// The frame-to-picture homography through four point pairs, solved in double precision by plain
// elimination: (u, v) = ((a x + b y + c) / (g x + h y + 1), (d x + e y + f) / (g x + h y + 1)).
struct Homography {
    std::array<double, 8> k{};
    bool fit(const std::array<MeshVertex, 4>& p) {
        double m[8][9] = {};
        for (int i = 0; i < 4; ++i) {
            const double x = p[i].x, y = p[i].y, u = p[i].u, v = p[i].v;
            const double r0[9] = {x, y, 1, 0, 0, 0, -u * x, -u * y, u};
            const double r1[9] = {0, 0, 0, x, y, 1, -v * x, -v * y, v};
            std::copy(r0, r0 + 9, m[2 * i]);
            std::copy(r1, r1 + 9, m[2 * i + 1]);
        }
        for (int c = 0; c < 8; ++c) {
            int pivot = c;
            for (int r = c + 1; r < 8; ++r) {
                if (std::abs(m[r][c]) > std::abs(m[pivot][c])) {
                    pivot = r;
                }
            }
            if (std::abs(m[pivot][c]) < 1e-12) {
                return false;
            }
            std::swap(m[c], m[pivot]);
            for (int r = 0; r < 8; ++r) {
                if (r != c) {
                    const double f = m[r][c] / m[c][c];
                    for (int q = c; q < 9; ++q) {
                        m[r][q] -= f * m[c][q];
                    }
                }
            }
        }
        for (int i = 0; i < 8; ++i) {
            k[i] = m[i][8] / m[i][i];
        }
        return true;
    }
    std::pair<double, double> at(double x, double y) const {
        const double w = k[6] * x + k[7] * y + 1.0;
        return {(k[0] * x + k[1] * y + k[2]) / w, (k[3] * x + k[4] * y + k[5]) / w};
    }
};

// Channel c of the bilinear sample at source position (s, t), texel centres at whole numbers.
double bilinear(const Picture& p, double s, double t, int c) {
    const auto texel = [&](int x, int y) {
        return static_cast<double>(
            p.at(std::clamp(x, 0, p.width - 1), std::clamp(y, 0, p.height - 1))[c]);
    };
    const double fx = std::floor(s);
    const double fy = std::floor(t);
    const int x = static_cast<int>(fx);
    const int y = static_cast<int>(fy);
    const double ax = s - fx;
    const double ay = t - fy;
    return (1 - ay) * ((1 - ax) * texel(x, y) + ax * texel(x + 1, y)) +
           ay * ((1 - ax) * texel(x, y + 1) + ax * texel(x + 1, y + 1));
}

Mesh tiltedMesh(float a, float b, float dist, float scale, double targetWidth) {
    CameraValues camera;
    camera.s = scale;
    camera.a = a;
    camera.b = b;
    camera.dist = dist;
    Mesh mesh;
    EXPECT_TRUE(placeMesh(mesh, camera, 400, 300, meshDensity(400, 300),
                          {targetWidth, targetWidth * 3 / 4, 4.0 / 3.0, 1.0}));
    return mesh;
}

TEST(PolygonMapper, TiltedPictureMatchesADoublePrecisionHomography) {
    Picture source = smooth(400, 300);
    const Mesh mesh = tiltedMesh(0.45f, -0.3f, 2.0f, 0.7f, 480);
    const std::vector<Quad> blocks = blocksOf(mesh, 480);
    ASSERT_EQ(blocks.size(), 1u);  // all in front of the camera: one piece
    Homography toPicture;
    ASSERT_TRUE(toPicture.fit(blocks.front()));
    // The mesh is the picture's plane seen in perspective: every grid point lies on the mapping
    // its corners give, so that mapping is the picture's own.
    for (int i = 0; i < mesh.size(); ++i) {
        const MeshVertex& v = const_cast<Mesh&>(mesh).data()[i];
        const auto [u, w] = toPicture.at(v.x, v.y);
        ASSERT_NEAR(u, v.u, 0.02);
        ASSERT_NEAR(w, v.v, 0.02);
    }
    for (const MapperPath path : kPaths) {
        Picture frame(480, 360);
        frame.fill(0x00000000u);
        draw(frame, source, blocks, {.path = path, .options = RenderSurface::kOptionAlpha});
        long covered = 0;
        long off = 0;
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                if (frame.at(x, y)[3] != 255) {
                    continue;  // the edge, partly covered
                }
                ++covered;
                const auto [u, v] = toPicture.at(x + 0.5, y + 0.5);
                for (int c = 0; c < 3; ++c) {
                    const double want = bilinear(source, u - 0.5, v - 0.5, c);
                    if (std::abs(frame.at(x, y)[c] - want) > 1.0) {
                        ++off;
                        break;
                    }
                }
            }
        }
        EXPECT_GT(covered, 480 * 360 / 4);
        EXPECT_LE(off, covered / 1000) << "path " << static_cast<int>(path);
    }
}

TEST(PolygonMapper, APictureCutByTheNearPlaneCoversWhatItsCellsCover) {
    Picture source = smooth(400, 300);
    // Tilted so far towards the camera that the near edge's cells are left out.
    const Mesh mesh = tiltedMesh(1.0f, 0.2f, 0.9f, 1.6f, 480);
    const std::vector<Quad> cells = cellsOf(mesh, 480);
    const std::vector<Quad> blocks = blocksOf(mesh, 480);
    const int all = (mesh.rows() - 1) * (mesh.columns() - 1);
    ASSERT_GT(cells.size(), 0u);
    ASSERT_LT(static_cast<int>(cells.size()), all);
    int inBlocks = 0;
    for (const CellBlock& b : visibleBlocks(mesh, 480)) {
        inBlocks += (b.row1 - b.row0) * (b.column1 - b.column0);
        for (int j = b.row0; j < b.row1; ++j) {
            for (int k = b.column0; k < b.column1; ++k) {
                EXPECT_TRUE(cellVisible(mesh, j, k, 480)) << j << "," << k;
            }
        }
    }
    EXPECT_EQ(inBlocks, static_cast<int>(cells.size()));
    EXPECT_LT(blocks.size(), cells.size() / 10);

    Picture byCells(480, 360);
    Picture byBlocks(480, 360);
    byCells.fill(0x00000000u);
    byBlocks.fill(0x00000000u);
    draw(byCells, source, cells, {.options = RenderSurface::kOptionAlpha});
    draw(byBlocks, source, blocks, {.options = RenderSurface::kOptionAlpha});
    int differ = 0;
    for (int y = 0; y < 360; ++y) {
        for (int x = 0; x < 480; ++x) {
            differ += (byCells.at(x, y)[3] != 0) != (byBlocks.at(x, y)[3] != 0);
        }
    }
    EXPECT_EQ(differ, 0);
}

TEST(PolygonMapper, ATiltedFlatColourHasNoSeams) {
    Picture source(400, 300);
    source.fill(0xFF3C78C8u);
    const Mesh mesh = tiltedMesh(0.5f, 0.35f, 1.8f, 0.8f, 480);
    Picture frame(480, 360);
    frame.fill(0x00000000u);
    draw(frame, source, blocksOf(mesh, 480), {.options = RenderSurface::kOptionAlpha});
    int inside = 0;
    for (int y = 1; y + 1 < 360; ++y) {
        for (int x = 1; x + 1 < 480; ++x) {
            // Inside the outline: the pixel and its neighbours all touched by the picture.
            bool surrounded = true;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    surrounded = surrounded && frame.at(x + dx, y + dy)[3] != 0;
                }
            }
            if (!surrounded) {
                continue;
            }
            const std::uint8_t* p = frame.at(x, y);
            ++inside;
            ASSERT_EQ(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24,
                      0xFF3C78C8u)
                << x << "," << y;
        }
    }
    EXPECT_GT(inside, 480 * 360 / 4);
}

TEST(PolygonMapper, FieldModeWritesOnlyItsRows) {
    Picture source = noise(50, 40, 5);
    const Quad q = parallelogram(50, 40, 3.5, 2.25, 1.2, 0.3, -0.2, 1.1);
    struct Case {
        int fieldSelector;
        std::uint32_t flags;
        int parity;
    };
    const Case cases[] = {{2, 0, 0}, {3, 0, 1}, {0, 2, 0}, {0, 3, 1}};
    Picture whole(70, 60);
    whole.fill(0x80808080u);
    const Picture background = whole;
    draw(whole, source, {q});
    for (const Case& c : cases) {
        Picture dest = background;
        draw(dest, source, {q}, {.fieldSelector = c.fieldSelector, .flags = c.flags});
        for (int y = 0; y < 60; ++y) {
            const Picture& expected = (y & 1) == c.parity ? whole : background;
            ASSERT_TRUE(std::equal(dest.at(0, y), dest.at(0, y) + 70 * 4, expected.at(0, y)))
                << "row " << y << " selector " << c.fieldSelector << " flags " << c.flags;
        }
    }
}

std::vector<Quad> tiltedCells(int width, int height) {
    CameraValues camera;
    camera.s = 0.8f;
    camera.a = -0.4f;
    camera.b = 0.35f;
    camera.r = 0.2f;
    camera.dist = 2.5f;
    Mesh mesh;
    placeMesh(mesh, camera, 160, 120, {24, 24}, {double(width), double(height), 4.0 / 3.0, 1.0});
    return cellsOf(mesh, width);
}

TEST(PolygonMapper, BandsGiveTheSameBytesAsTheWholeFrame) {
    Picture source = noise(160, 120, 21);
    const int w = 203;
    const int h = 151;
    const int split = 74;
    // A rotated quad on a 1/1024 grid, so shifting it by the band's first row is exact.
    const Quad rotated = parallelogram(160, 120, 40.125, -9.5, 1.0009765625, 0.43359375,
                                       -0.4130859375, 1.0400390625);
    for (const std::vector<Quad>& cells : {std::vector<Quad>{rotated}, tiltedCells(w, h)}) {
        Picture whole = noise(w, h, 4);
        Picture banded = whole;
        Picture shifted = whole;
        draw(whole, source, cells);
        KernelBitmap top = banded.bitmap().region(0, 0, w, split);
        KernelBitmap bottom = banded.bitmap().region(0, split, w, h - split);
        draw(top, source, cells);
        draw(bottom, source, cells, {.firstRow = split});
        EXPECT_EQ(banded.bytes, whole.bytes);

        if (cells.size() == 1) {
            std::vector<Quad> moved = cells;
            for (MeshVertex& v : moved[0]) {
                v.y -= static_cast<float>(split);
            }
            draw(shifted.bitmap().region(0, 0, w, split), source, cells);
            draw(shifted.bitmap().region(0, split, w, h - split), source, moved);
            EXPECT_EQ(shifted.bytes, whole.bytes);
        }
    }
}

TEST(PolygonMapper, VectorPathsGiveTheScalarBytes) {
    Picture source = noise(330, 250, 8);
    const std::vector<std::vector<Quad>> scenes = {
        {parallelogram(330, 250, -3.3, 4.7, 0.8123, 0.0, 0.0, 0.7977)},   // reduced
        {parallelogram(330, 250, -150.2, -99.9, 2.31, 0.0, 0.0, 2.31)},   // enlarged, clipped
        {parallelogram(330, 250, 90.6, -30.2, 0.71, 0.35, -0.35, 0.71)},  // rotated
        grid(13, 330, 250, 1.37, -2.2, 0.93, 0.0, 0.0, 0.91),             // flat, cells
        {parallelogram(330, 250, 310.5, 2.25, -0.95, 0.0, 0.0, 0.85)},    // mirrored
        tiltedCells(300, 220),
        // Across the whole target, down the source from its middle, most rows one source row on
        // and some two.
        {parallelogram(330, 250, -10.3, -60.6, 0.95, 0.0, 0.0, 0.6)},
        {parallelogram(330, 250, 5.2, 240.7, 0.9, 0.0, 0.0, -0.93)},  // upside down
    };
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        Picture scalar(300, 220);
        draw(scalar, source, scenes[i], {MapperPath::Scalar});
        for (MapperPath path : {MapperPath::Sse2, MapperPath::Avx2}) {
            Picture vector(300, 220);
            draw(vector, source, scenes[i], {path});
            EXPECT_EQ(vector.bytes, scalar.bytes)
                << "scene " << i << " path " << static_cast<int>(availableMapperPath(path));
        }
    }
}

// Row blends of n samples at x0 + i dsx through planned groups of four where they can be planned
// (the rest one by one).
void blendThroughGroups(std::vector<std::int16_t>& out, int n, const std::uint8_t* row, int width,
                        std::int32_t x0, std::int32_t dsx) {
    for (int i = 0; i < n; i += 4) {
        const int count = std::min(4, n - i);
        std::int32_t xs[4];
        for (int k = 0; k < 4; ++k) {
            xs[k] = x0 + (i + std::min(k, count - 1)) * dsx;
        }
        detail::RowBlendGroup group;
        if (count == 4 && detail::planRowBlendGroup(group, xs, width)) {
            detail::rowBlendGroupsAvx2(out.data() + 4 * i, 1, row, &group);
        } else {
            detail::rowBlendScalar(out.data() + 4 * i, count, row, xs[0], dsx);
        }
    }
}

// The inner loops straight, on positions no whole-picture scene reaches: random steps both ways,
// every length around the vector widths, top-down and bottom-up sources.
TEST(PolygonMapper, SpanLoopsAgreeOnRandomPositions) {
    const int w = 61;
    const int h = 37;
    const Picture picture = noise(w, h, 13);
    std::uint32_t seed = 5;
    const auto random = [&seed](std::int32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::int32_t>((seed >> 1) % static_cast<std::uint32_t>(range));
    };
    const bool avx2 = availableMapperPath(MapperPath::Avx2) == MapperPath::Avx2;
    for (bool bottomUp : {false, true}) {
        const std::uint8_t* src = picture.bytes.data() + (bottomUp ? (h - 1) * w * 4 : 0);
        const std::ptrdiff_t pitch = bottomUp ? -w * 4 : w * 4;
        for (int trial = 0; trial < 400; ++trial) {
            const int n = 1 + random(40);
            // Start and end inside [0, side - 2] so every position between is too.
            const std::int32_t x0 = random((w - 1) * 65536);
            const std::int32_t x1 = random((w - 1) * 65536);
            const std::int32_t y0 = random((h - 1) * 65536);
            const std::int32_t y1 = trial % 3 == 0 ? y0 : random((h - 1) * 65536);
            const std::int32_t dsx = n > 1 ? (x1 - x0) / (n - 1) : 0;
            const std::int32_t dsy = n > 1 ? (y1 - y0) / (n - 1) : 0;
            std::vector<std::uint8_t> expected(4 * n), actual(4 * n);
            detail::spanBgraScalar(expected.data(), n, src, pitch, x0, y0, dsx, dsy);
            detail::spanBgraSse2(actual.data(), n, src, pitch, x0, y0, dsx, dsy);
            ASSERT_EQ(actual, expected) << "sse2 span, trial " << trial;
            if (avx2) {
                detail::spanBgraAvx2(actual.data(), n, src, pitch, x0, y0, dsx, dsy);
                ASSERT_EQ(actual, expected) << "avx2 span, trial " << trial;
            }
            if (dsy == 0) {
                // Two passes: each row blended across, then the rows blended down.
                const std::uint8_t* row = src + (y0 >> 16) * pitch;
                std::vector<std::int16_t> top(4 * n), bottom(4 * n);
                detail::rowBlendScalar(top.data(), n, row, x0, dsx);
                detail::rowBlendScalar(bottom.data(), n, row + pitch, x0, dsx);
                detail::columnBlendScalar(actual.data(), n, top.data(), bottom.data(),
                                          detail::fraction7(y0));
                ASSERT_EQ(actual, expected) << "two passes, trial " << trial;
                if (avx2) {
                    std::vector<std::int16_t> vtop(4 * n), vbottom(4 * n);
                    detail::rowBlendAvx2(vtop.data(), n, row, x0, dsx);
                    detail::rowBlendAvx2(vbottom.data(), n, row + pitch, x0, dsx);
                    ASSERT_EQ(vtop, top) << "avx2 row blend, trial " << trial;
                    ASSERT_EQ(vbottom, bottom) << "avx2 row blend, trial " << trial;
                    detail::columnBlendAvx2(actual.data(), n, top.data(), bottom.data(),
                                            detail::fraction7(y0));
                    ASSERT_EQ(actual, expected) << "avx2 column blend, trial " << trial;
                    blendThroughGroups(vtop, n, row, w, x0, dsx);
                    ASSERT_EQ(vtop, top) << "planned groups, trial " << trial;
                }
            }

            std::vector<std::int32_t> xs(n), ys(n);
            for (int i = 0; i < n; ++i) {
                xs[i] = random((w - 1) * 65536);
                ys[i] = random((h - 1) * 65536);
            }
            detail::sampleBgraScalar(expected.data(), n, src, pitch, xs.data(), ys.data());
            detail::sampleBgraSse2(actual.data(), n, src, pitch, xs.data(), ys.data());
            ASSERT_EQ(actual, expected) << "sse2 samples, trial " << trial;
            if (avx2) {
                detail::sampleBgraAvx2(actual.data(), n, src, pitch, xs.data(), ys.data());
                ASSERT_EQ(actual, expected) << "avx2 samples, trial " << trial;
            }
        }
    }
}

// Spans along one source row at every step the vector loop reads out of 16-pixel windows, on a
// picture fenced by unreadable pages: the windows stay within the texels the span itself needs.
TEST(PolygonMapper, RowSpansAgreeAndReadOnlyTheirOwnTexels) {
    if (availableMapperPath(MapperPath::Avx2) != MapperPath::Avx2) {
        GTEST_SKIP() << "no AVX2";
    }
    const int w = 64;
    const int h = 4;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t bytes = static_cast<std::size_t>(w * h * 4);
    ASSERT_LE(bytes, page);
    void* map = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* base = static_cast<std::uint8_t*>(map);
    ASSERT_EQ(mprotect(base, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
    const Picture picture = noise(w, h, 21);
    std::uint32_t seed = 3;
    const auto random = [&seed](std::int32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::int32_t>((seed >> 1) % static_cast<std::uint32_t>(range));
    };
    for (const bool bottomUp : {false, true}) {
        // Top-down rows end at the upper fence; bottom-up rows start at the lower one.
        std::uint8_t* pixels = bottomUp ? base + page : base + 2 * page - bytes;
        std::memcpy(pixels, picture.bytes.data(), bytes);
        const std::uint8_t* src = bottomUp ? pixels + (h - 1) * w * 4 : pixels;
        const std::ptrdiff_t pitch = bottomUp ? -w * 4 : w * 4;
        for (int trial = 0; trial < 3000; ++trial) {
            // Steps from a quarter pixel to beyond the windowed loop's limit of 13/7.
            const std::int32_t dsx = 16384 + random(120000);
            const int n = 1 + random(std::min(70, static_cast<int>((w - 2) * 65536LL / dsx)));
            const std::int64_t room = (w - 2) * 65536LL - static_cast<std::int64_t>(n - 1) * dsx;
            // Half the spans end on the last texel, on the fence.
            const std::int32_t x0 = static_cast<std::int32_t>(
                trial % 2 ? room : random(static_cast<std::int32_t>(room) + 1));
            std::int32_t y0 =
                (h - 2) * 65536 + (trial % 3 == 0 ? 65535 : random(65536)) - random(2) * 65536;
            std::vector<std::uint8_t> expected(4 * n), actual(4 * n);
            detail::spanBgraScalar(expected.data(), n, src, pitch, x0, y0, dsx, 0);
            detail::spanBgraAvx2(actual.data(), n, src, pitch, x0, y0, dsx, 0);
            ASSERT_EQ(actual, expected) << "trial " << trial << " step " << dsx << " n " << n;
            // The two-pass loop reads one row at a time, under the same rule.
            const std::uint8_t* row = src + (y0 >> 16) * pitch;
            std::vector<std::int16_t> top(4 * n), bottom(4 * n);
            detail::rowBlendAvx2(top.data(), n, row, x0, dsx);
            detail::rowBlendAvx2(bottom.data(), n, row + pitch, x0, dsx);
            detail::columnBlendAvx2(actual.data(), n, top.data(), bottom.data(),
                                    detail::fraction7(y0));
            ASSERT_EQ(actual, expected) << "two passes, trial " << trial << " step " << dsx;
            std::vector<std::int16_t> grouped(4 * n);
            blendThroughGroups(grouped, n, row, w, x0, dsx);
            ASSERT_EQ(grouped, top) << "planned groups, trial " << trial << " step " << dsx;
            // A slightly turned picture: the span drifts across rows, up or down.
            const std::int32_t most = n > 1 ? 2 * 65536 / (n - 1) : 0;
            const std::int32_t dsy = std::clamp(random(8193) - 4096, -most, most);
            const std::int32_t drift = (n - 1) * dsy;
            const std::int32_t lowest = std::max(0, -drift);
            const std::int32_t highest = (h - 2) * 65536 + 65535 - std::max(0, drift);
            y0 = lowest + random(highest - lowest + 1);
            detail::spanBgraScalar(expected.data(), n, src, pitch, x0, y0, dsx, dsy);
            // The rows ahead are only fetched, never read: even past the fence (the picture's
            // height further on) nothing faults and the bytes stay the same.
            const std::ptrdiff_t ahead = (trial % 4) * h * pitch / 2;
            detail::spanBgraAvx2(actual.data(), n, src, pitch, x0, y0, dsx, dsy, ahead);
            ASSERT_EQ(actual, expected) << "trial " << trial << " slope " << dsy << " n " << n;
        }
    }
    munmap(map, 3 * page);
}

// Projective positions: the vector loop against the plain one, including rows whose divisor
// crosses zero (far outside, clamped) and pixels at the clamp limits.
TEST(PolygonMapper, ProjectivePositionsAgree) {
    if (availableMapperPath(MapperPath::Avx2) != MapperPath::Avx2) {
        GTEST_SKIP() << "no AVX2";
    }
    std::uint32_t seed = 9;
    const auto uniform = [&seed](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / double(1 << 24);
    };
    for (int trial = 0; trial < 300; ++trial) {
        detail::ProjectiveRow row;
        row.h0 = uniform(0.5, 1.5);
        row.h3 = uniform(-0.3, 0.3);
        row.h6 = trial % 4 == 0 ? 0.125 : uniform(-0.002, 0.002);
        row.s = uniform(-40, 200);
        row.t = uniform(-40, 160);
        row.w = trial % 4 == 0 ? -2.5 : uniform(0.6, 1.4);  // w = 0 at dx = 20
        row.ox = trial % 4 == 0 ? 0.5 : uniform(-5, 5);
        row.width = 160;
        row.height = 120;
        const int x = trial % 4 == 0 ? 0 : static_cast<int>(uniform(-20, 100));
        const int n = 1 + trial % 70;
        std::vector<std::int32_t> xs(n), ys(n), vx(n), vy(n);
        const bool plain = detail::projectScalar(row, x, n, xs.data(), ys.data());
        const bool vector = detail::projectAvx2(row, x, n, vx.data(), vy.data());
        ASSERT_EQ(vector, plain) << "trial " << trial;
        ASSERT_EQ(vx, xs) << "trial " << trial;
        ASSERT_EQ(vy, ys) << "trial " << trial;
        for (int i = 0; i < n; ++i) {
            ASSERT_GE(xs[i], -65536);
            ASSERT_LE(xs[i], 160 * 65536);
        }
    }
}

// A cleared surface draws exactly as a fresh one, though its buffers still hold the old cells.
// Cells marked full are not stored until something reads them, and read as full before; a
// caller reading part of the row stores only the marks there.
TEST(KernelBuffer, MarkedCellsReadAsFullAndAreStoredWhenRead) {
    const auto buffer = KernelBuffer::create(60, 3, KernelBufferKind::Work, 0);
    ASSERT_TRUE(buffer);
    buffer->reach(1, 0, 60);
    buffer->row(1)[20] = 7;
    buffer->markFull(1, 2, 10);
    buffer->markFull(1, 10, 15);  // touching: one range
    for (const int lo : {30, 40, 45, 50}) {
        buffer->markFull(1, lo, lo + 3);  // apart: five ranges, one more than are kept
    }
    const auto full = [](int x) {
        return (x >= 2 && x < 15) || (x >= 30 && x < 33) || (x >= 40 && x < 43) ||
               (x >= 45 && x < 48) || (x >= 50 && x < 53);
    };
    for (int x = 0; x < 60; ++x) {
        EXPECT_EQ(buffer->cell(x, 1), full(x) ? KernelBuffer::kFullCoverage : x == 20 ? 7 : 0) << x;
    }
    const std::uint16_t* cells = buffer->rowFor(1, 41, 46);
    EXPECT_EQ(cells[42], KernelBuffer::kFullCoverage);
    EXPECT_EQ(cells[45], KernelBuffer::kFullCoverage);
    EXPECT_EQ(cells[31], 0);  // not asked for: still only marked
    cells = buffer->row(1);
    for (int x = 0; x < 60; ++x) {
        EXPECT_EQ(cells[x], full(x) ? KernelBuffer::kFullCoverage : x == 20 ? 7 : 0) << x;
    }
    buffer->markFull(1, 0, 60);
    buffer->clear();
    buffer->reach(1, 0, 60);
    for (int x = 0; x < 60; ++x) {
        EXPECT_EQ(buffer->cell(x, 1), 0) << x;
    }
}

TEST(PolygonMapper, ClearedSurfaceDrawsAsAFreshOne) {
    Picture source = noise(90, 70, 31);
    const std::vector<Quad> first = tiltedCells(120, 90);
    const std::vector<Quad> second = {parallelogram(90, 70, 30.6, 11.2, 0.7, 0.3, -0.25, 0.8),
                                      parallelogram(90, 70, -20.3, 40.9, 0.5, 0.0, 0.0, 0.6)};
    const std::uint32_t options = RenderSurface::kOptionAlpha | RenderSurface::kOptionCoverage;
    Picture fresh = noise(120, 90, 6);
    Picture reused = fresh;
    draw(fresh, source, second, {.options = options});

    RenderSurface surface;
    ASSERT_TRUE(surface.create(reused.bitmap(), options));
    Picture scratch(120, 90);
    KernelBitmap other = scratch.bitmap();
    surface.destination = other;
    for (const Quad& q : first) {
        ASSERT_TRUE(mapPolygon(surface, surface.coverage.get(), source.bitmap(), q.data(), 4,
                               surface.kernelFlags));
    }
    surface.clear();
    surface.destination = reused.bitmap();
    for (const Quad& q : second) {
        ASSERT_TRUE(mapPolygon(surface, surface.coverage.get(), source.bitmap(), q.data(), 4,
                               surface.kernelFlags));
    }
    surface.finish();
    EXPECT_EQ(reused.bytes, fresh.bytes);
    int covered = 0;
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 120; ++x) {
            EXPECT_EQ(surface.coverage->cell(x, y), surface.work->cell(x, y));
            covered += surface.work->cell(x, y) == KernelBuffer::kFullCoverage;
            const bool outside = squareOutside(second[0], x, y) && squareOutside(second[1], x, y);
            if (outside) {
                ASSERT_EQ(surface.work->cell(x, y), 0) << x << "," << y;
            }
        }
    }
    EXPECT_GT(covered, 2000);
}

TEST(PolygonMapper, FinishingWritesCoverageAsAlpha) {
    Picture source(4, 4);
    source.fill(0xFFFFFFFFu);
    Picture dest(10, 4);
    // Covers columns 2..5 fully, column 6 by a quarter.
    draw(dest, source, {parallelogram(4, 4, 2.0, 0.0, 1.0625, 0, 0, 1)},
         {.options = RenderSurface::kOptionAlpha | RenderSurface::kOptionCoverage});
    EXPECT_EQ(dest.at(1, 2)[3], 0);
    EXPECT_EQ(dest.at(3, 2)[3], 255);
    EXPECT_EQ(dest.at(6, 2)[3], 32 * 255 >> 7);
    EXPECT_EQ(dest.at(6, 2)[0], 64);  // a quarter of white over black
}

TEST(PolygonMapper, Yuy2PicturesMapToo) {
    Picture source = noise(40, 12, 17, KernelLayout::Yuy2);
    Picture dest(40, 12, KernelLayout::Yuy2);
    draw(dest, source, {parallelogram(40, 12, 0, 0, 1, 0, 0, 1)});
    EXPECT_EQ(dest.bytes, source.bytes);

    Picture shifted = noise(60, 20, 2, KernelLayout::Yuy2);
    const Picture before = shifted;
    const Quad q = parallelogram(40, 12, 10.5, 4.25, 0.9, 0.1, 0, 1);
    draw(shifted, source, {q});
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (squareOutside(q, x, y)) {
                ASSERT_TRUE(std::equal(shifted.at(x, y), shifted.at(x, y) + 2, before.at(x, y)));
            }
        }
    }
    EXPECT_NE(shifted.bytes, before.bytes);
}

TEST(PolygonMapper, UnusableInputsDrawNothing) {
    Picture source = noise(8, 8, 1);
    Picture yuy2 = noise(8, 8, 1, KernelLayout::Yuy2);
    Picture dest(16, 16);
    RenderSurface surface;
    ASSERT_TRUE(surface.create(dest.bitmap(), 0));
    Quad q = parallelogram(8, 8, 1, 1, 1, 0, 0, 1);
    EXPECT_FALSE(mapPolygon(surface, nullptr, yuy2.bitmap(), q.data(), 4, 0x20));
    EXPECT_FALSE(mapPolygon(surface, nullptr, source.bitmap(), q.data(), 5, 0x20));
    q[2].x = std::nanf("");
    EXPECT_FALSE(mapPolygon(surface, nullptr, source.bitmap(), q.data(), 4, 0x20));
    KernelBitmap noPixels = source.bitmap();
    noPixels.pixels = nullptr;
    EXPECT_FALSE(mapPolygon(surface, nullptr, noPixels, q.data(), 4, 0x20));
    EXPECT_EQ(std::count(dest.bytes.begin(), dest.bytes.end(), 0),
              static_cast<long>(dest.bytes.size()));
    RenderSurface empty;
    EXPECT_FALSE(empty.create(noPixels, 0));
}

}  // namespace
}  // namespace pm
