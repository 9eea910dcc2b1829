#include "render/SceneRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

#include "core/ErrorInfo.h"
#include "core/MessageIds.h"
#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "render/BlurFilter.h"
#include "render/EdgeSmoother.h"
#include "render/KernelBitmap.h"
#include "render/LevelAccess.h"
#include "render/PerfKit.h"
#include "render/PolygonMapper.h"
#include "render/RenderScratch.h"
#include "render/RenderSurface.h"
#include "render/SceneImage.h"
#include "render/detail/FrameRows.h"
#include "render/detail/Workers.h"

namespace pm {

namespace {

constexpr std::uint32_t kMemoryFailed = msg::kMemoryAllocationFailed | ErrorInfo::kSerious;
constexpr std::uint32_t kCannotInitialise = msg::kCannotInitialise | ErrorInfo::kSerious;
constexpr int kHighestLevel = 11;

KernelBitmap kernelBitmapOf(const ImageBuffer& image, FieldMode fields) {
    KernelBitmap k;
    k.width = static_cast<int>(image.width);
    k.height = static_cast<int>(image.height);
    k.pitch = image.pitch;
    k.pixels = image.pixels;
    k.bytesPerPixel = static_cast<int>(image.bitsPerPixel / 8);
    k.layout = image.format == PixelFormat::Yuy2 ? KernelLayout::Yuy2 : KernelLayout::Bgra32;
    k.fieldSelector = fields == FieldMode::First ? 2 : fields == FieldMode::Second ? 3 : 0;
    return k;
}

// Keeps a picture level referenced for as long as it is drawn from.
// Per frame row, the pixels [lo, hi) that a picture drawn as one quadrilateral covers whole.
// Drawing overwrites every one of them, so the background need not be filled there first: on a
// frame the picture fills, that fill was a third of the memory traffic. All empty for a picture
// drawn in several pieces.
struct CoveredRow {
    int lo = 0;
    int hi = 0;
};

std::vector<CoveredRow> coveredWhole(const Mesh& mesh, const std::vector<CellBlock>& blocks,
                                     int width, int height) {
    std::vector<CoveredRow> rows;
    if (blocks.size() != 1) {
        return rows;
    }
    const std::array<MeshVertex, 4> corners = blockCorners(mesh, blocks.front());
    // Only a convex cell has a row's inside between the inside of its two edges.
    double turn = 0.0;
    for (int i = 0; i < 4; ++i) {
        const MeshVertex& a = corners[i];
        const MeshVertex& b = corners[(i + 1) % 4];
        const MeshVertex& c = corners[(i + 2) % 4];
        const double cross = (static_cast<double>(b.x) - a.x) * (static_cast<double>(c.y) - b.y) -
                             (static_cast<double>(b.y) - a.y) * (static_cast<double>(c.x) - b.x);
        if (cross == 0.0 || (turn != 0.0 && (cross > 0.0) != (turn > 0.0))) {
            return rows;
        }
        turn = cross;
    }
    // Where the line y = t crosses the cell: false when it misses it.
    const auto span = [&corners](double t, double& left, double& right) {
        left = 1e300;
        right = -1e300;
        for (int i = 0; i < 4; ++i) {
            const MeshVertex& a = corners[i];
            const MeshVertex& b = corners[(i + 1) % 4];
            const double ya = a.y;
            const double yb = b.y;
            if (t < std::min(ya, yb) || t > std::max(ya, yb)) {
                continue;
            }
            if (ya == yb) {
                left = std::min({left, static_cast<double>(a.x), static_cast<double>(b.x)});
                right = std::max({right, static_cast<double>(a.x), static_cast<double>(b.x)});
                continue;
            }
            const double x = a.x + (static_cast<double>(b.x) - a.x) * (t - ya) / (yb - ya);
            left = std::min(left, x);
            right = std::max(right, x);
        }
        return left <= right;
    };
    rows.resize(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        // The row with a pixel of margin all round, because the coverage of the edge pixels is
        // summed in floating point and only pixels whole beyond doubt may stay unfilled. The
        // left side of a convex cell is furthest right at one end of that height, the right
        // side furthest left.
        double l0, r0, l1, r1;
        if (!span(y - 1.0, l0, r0) || !span(y + 2.0, l1, r1)) {
            continue;
        }
        const double lo = std::ceil(std::max(l0, l1)) + 1.0;
        const double hi = std::floor(std::min(r0, r1)) - 1.0;
        if (lo < hi) {
            rows[static_cast<std::size_t>(y)] = {
                static_cast<int>(std::clamp(lo, 0.0, 1.0 * width)),
                static_cast<int>(std::clamp(hi, 0.0, 1.0 * width))};
        }
    }
    return rows;
}

// Fills frame pixels [x, x + w) x [y, y + h) of a 32-bit target.
void fillRect(const ImageBuffer& target, int x, int y, int w, int h, std::uint32_t colour,
              int colourKind) {
    if (w <= 0 || h <= 0) {
        return;
    }
    // A view without the target's ownership: this runs twice for every row of a frame.
    PerfKit::fill(ImageBuffer::wrap(target.format, static_cast<std::uint32_t>(w),
                                    static_cast<std::uint32_t>(h), target.pitch,
                                    target.row(static_cast<std::uint32_t>(y)) +
                                        4 * static_cast<std::ptrdiff_t>(x)),
                  colour, colourKind);
}

}  // namespace

SceneRenderer::SceneRenderer(Scene& scene) : m_scene(scene) {}

SceneImage* SceneRenderer::picture() const {
    return dynamic_cast<SceneImage*>(&m_scene.picture());
}

RendererGate& SceneRenderer::gate() const {
    return m_scene.rendererGate();
}

void SceneRenderer::fillBackground(const ImageBuffer& target, FieldMode fields) const {
    const Project& project = m_scene.project().project();
    const ImageBuffer rows = detail::fieldRows(target, fields);
    PerfKit::fill(rows, detail::packedColour(project.backgroundColour()),
                  project.backgroundColourKind());
}

RenderQuality SceneRenderer::renderFrame(double sceneTime, const ImageBuffer& target,
                                         FieldMode fields, float yScale, PictureAccess access) {
    if (!target.pixels) {
        return RenderQuality::Failed;
    }
    // The background is filled by the bands that draw the picture, each its own rows; a frame
    // that ends before that gets it here.
    const RenderQuality quality = drawScene(sceneTime, target, fields, yScale, access);
    if (!m_filled) {
        fillBackground(target, fields);
    }
    return quality;
}

RenderQuality SceneRenderer::renderField(double sceneTime, const ImageBuffer& fieldTarget,
                                         bool isFirstField, float yScale, PictureAccess access) {
    if (!fieldTarget.pixels) {
        return RenderQuality::Failed;
    }
    return renderFrame(sceneTime, detail::frameOfField(fieldTarget, isFirstField),
                       isFirstField ? FieldMode::First : FieldMode::Second, yScale, access);
}

RenderQuality SceneRenderer::drawScene(double sceneTime, const ImageBuffer& target,
                                       FieldMode fields, float yScale, PictureAccess access) {
    if (target.format == PixelFormat::Bgra32) {
        return drawBgra(sceneTime, target, fields, yScale, access);
    }
    // Other formats are drawn in 32-bit BGRA and converted, only the field's rows in a field.
    ImageBuffer temporary;
    if (PerfKit::allocate(&temporary, PixelFormat::Bgra32, static_cast<int>(target.width),
                          static_cast<int>(target.height)) != PixelStatus::Ok) {
        m_scene.project().errors().report(kMemoryFailed);
        return RenderQuality::Failed;
    }
    const RenderQuality quality = drawBgra(sceneTime, temporary, fields, yScale, access);
    if (!m_filled) {
        fillBackground(temporary, fields);
    }
    if (quality != RenderQuality::Failed) {
        const ImageBuffer from = detail::fieldRows(temporary, fields);
        const ImageBuffer to = detail::fieldRows(target, fields);
        PerfKit::copy(to, from);
    }
    PerfKit::free(&temporary);
    return quality;
}

RenderQuality SceneRenderer::drawBgra(double sceneTime, const ImageBuffer& target, FieldMode fields,
                                      float yScale, PictureAccess access) {
    m_filled = false;
    SceneImage* image = picture();
    if (!image) {
        return RenderQuality::Failed;
    }
    RendererGate::RenderGuard render(gate());
    // The mesh density of a tilted picture follows the shape of the picture this frame draws:
    // taken inside the gate, so a picture replaced by an edit cannot leave a frame drawn with the
    // other picture's mesh.
    const GridSize density = meshDensity(image->width(), image->height());
    ErrorInfo& errors = m_scene.project().errors();
    {
        // The picture must have pixels at all.
        LevelAccess check(*image, 0, access);
        if (!check.image().pixels) {
            return RenderQuality::Failed;
        }
    }
    if (m_scene.length() == 0) {
        return RenderQuality::Failed;
    }
    const auto time = static_cast<float>(std::clamp(sceneTime, 0.0, 1.0));
    const double width = target.width;
    const float scale = image->neededScale(m_scene, time, true, static_cast<int>(target.width));
    const int level = image->levelForRendering(m_scene, scale, true);
    if (level > kHighestLevel) {
        return RenderQuality::Failed;
    }
    LevelAccess taken(*image, level, access);
    const ImageBuffer& source = taken.image();
    if (!source.pixels) {
        return RenderQuality::Failed;
    }
    if (yScale <= 0.0f) {
        yScale = 1.0f;
    }
    const CameraValues camera = CameraValues::fromParameters(m_scene.evaluateAll(time));
    const Project& project = m_scene.project().project();
    RenderTarget frame;
    frame.width = width;
    frame.height = target.height;
    frame.aspect = project.vAspRatio() > 0.0 ? project.vAspRatio() : 4.0 / 3.0;
    frame.yScale = yScale;
    const double W = source.width;
    const double H = source.height;
    const PicturePlacement place =
        placePicture(camera, W, H, {frame.width, frame.width / frame.aspect});
    // A picture that is not tilted lies in one plane square to the camera.
    const bool flatPicture = std::fabs(camera.a) + std::fabs(camera.b) == 0.0f;
    const GridSize grid = flatPicture ? flatGridSize(place.zoom) : density;
    Mesh mesh;
    if (!placeMesh(mesh, camera, W, H, grid, frame)) {
        errors.report(kMemoryFailed);
        return RenderQuality::Failed;
    }
    if (!mapCells(mesh, source, target, fields)) {
        return RenderQuality::Failed;
    }
    const bool flat = flattenAlpha();
    if (image->hasAlpha()) {
        if (flat) {
            flatten(target, fields);
        }
    } else {
        EdgeSmoother::Options options;
        options.fields = fields;
        options.keepAlpha = !flat;
        EdgeSmoother::smooth(target, mesh, width, options);
    }
    if (camera.blur > 1e-6f) {
        const double r = blurRadius(width, camera.blur);
        auto filter = PerfKit::createBlurFilter();
        const ImageBuffer rows = detail::fieldRows(target, fields);
        filter->setRadii(r, fields != FieldMode::Frame ? r / 2.0 : r);
        if (flat) {
            filter->applyKeepAlpha(rows, rows);
        } else {
            filter->apply(rows, rows);
        }
    }
    return qualityOf(taken.given());
}

bool SceneRenderer::mapCells(const Mesh& mesh, const ImageBuffer& level, const ImageBuffer& target,
                             FieldMode fields) {
    const KernelBitmap source = kernelBitmapOf(level, FieldMode::Frame);
    const KernelBitmap destination = kernelBitmapOf(target, fields);
    const int height = static_cast<int>(target.height);
    const double width = target.width;
    const std::uint32_t options = fields != FieldMode::Frame ? RenderSurface::kOptionInterlaced : 0;

    // Band starts on even rows, so both fields split the same way.
    int bands = m_bands > 0 ? m_bands : PerfKit::processorCount();
    bands = std::clamp(bands, 1, std::max(1, height / 2));
    std::vector<int> starts;
    for (int b = 0; b <= bands; ++b) {
        starts.push_back(b == bands ? height : (height * b / bands) & ~1);
    }

    std::unique_lock<std::mutex> scratchLock;
    std::vector<RenderSurface> own;
    std::vector<RenderSurface*> surfaces(static_cast<std::size_t>(bands));
    if (m_scratch) {
        scratchLock = std::unique_lock(m_scratch->lock());
    } else {
        own.resize(static_cast<std::size_t>(bands));
    }
    for (int b = 0; b < bands; ++b) {
        const KernelBitmap band =
            destination.region(0, starts[b], destination.width, starts[b + 1] - starts[b]);
        RenderSurface* surface = nullptr;
        if (m_scratch) {
            surface = m_scratch->surface(static_cast<std::size_t>(b), band, options);
        } else if (own[b].create(band, options)) {
            surface = &own[b];
        }
        if (!surface) {
            m_scene.project().errors().report(kCannotInitialise);
            return false;
        }
        surface->firstRow = starts[b];
        surfaces[b] = surface;
    }
    const Project& project = m_scene.project().project();
    const std::uint32_t colour = detail::packedColour(project.backgroundColour());
    const int colourKind = project.backgroundColourKind();
    // Drawn in as few pieces as cover the visible cells: one for a picture in front of the
    // camera, whatever its tilt.
    const std::vector<CellBlock> blocks = visibleBlocks(mesh, width);
    const std::vector<CoveredRow> whole =
        fields == FieldMode::Frame ? coveredWhole(mesh, blocks, destination.width, height)
                                   : std::vector<CoveredRow>{};
    const auto drawBand = [&](int b) {
        // Each band clears its own rows to the background before drawing on them, except for
        // the pixels the picture will overwrite.
        const int w = destination.width;
        if (whole.empty()) {
            ImageBuffer rows = target;
            rows.pixels = target.row(static_cast<std::uint32_t>(starts[b]));
            rows.height = static_cast<std::uint32_t>(starts[b + 1] - starts[b]);
            PerfKit::fill(detail::fieldRows(rows, fields), colour, colourKind);
        } else {
            for (int y = starts[b]; y < starts[b + 1]; ++y) {
                const CoveredRow& r = whole[static_cast<std::size_t>(y)];
                if (r.lo >= r.hi) {
                    fillRect(target, 0, y, w, 1, colour, colourKind);
                    continue;
                }
                fillRect(target, 0, y, r.lo, 1, colour, colourKind);
                fillRect(target, r.hi, y, w - r.hi, 1, colour, colourKind);
            }
        }
        RenderSurface& surface = *surfaces[b];
        const float top = static_cast<float>(starts[b]);
        const float bottom = static_cast<float>(starts[b + 1]);
        for (const CellBlock& block : blocks) {
            const std::array<MeshVertex, 4> corners = blockCorners(mesh, block);
            // Blocks entirely outside the band have nothing to draw here.
            const float lo = std::min({corners[0].y, corners[1].y, corners[2].y, corners[3].y});
            const float hi = std::max({corners[0].y, corners[1].y, corners[2].y, corners[3].y});
            if (hi < top - 1.0f || lo > bottom + 1.0f) {
                continue;
            }
            if (!mapPolygon(surface, nullptr, source, corners.data(), 4, surface.kernelFlags) &&
                !whole.empty()) {
                // Nothing drawn: the pixels left unfilled get the background after all.
                for (int y = starts[b]; y < starts[b + 1]; ++y) {
                    const CoveredRow& r = whole[static_cast<std::size_t>(y)];
                    fillRect(target, r.lo, y, r.hi - r.lo, 1, colour, colourKind);
                }
            }
        }
        surface.finish();
    };
    detail::Workers::run(bands, drawBand);
    m_filled = true;
    return true;
}

void SceneRenderer::flatten(const ImageBuffer& target, FieldMode fields) const {
    const Project::Colour bg = m_scene.project().project().backgroundColour();
    const ImageBuffer rows = detail::fieldRows(target, fields);
    const unsigned background[3] = {bg.b, bg.g, bg.r};
    for (std::uint32_t y = 0; y < rows.height; ++y) {
        std::uint8_t* p = rows.row(y);
        for (std::uint32_t x = 0; x < rows.width; ++x, p += 4) {
            const unsigned a = p[3];
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<std::uint8_t>((p[c] * a + (255 - a) * background[c]) >> 8);
            }
        }
    }
}

int SceneRenderer::drawRegion(const ImageBuffer& target, double x, double y, double width,
                              double height) {
    SceneImage* image = picture();
    if (!image || !target.pixels || target.format != PixelFormat::Bgra32 || width <= 0.0 ||
        height <= 0.0) {
        return 0;
    }
    RendererGate::RenderGuard render(gate());
    LevelAccess full(*image, 0, PictureAccess::Full);
    if (!full.image().pixels) {
        return 0;
    }
    const double pictureWidth = image->width();
    const double pictureHeight = image->height();
    int level = image->chooseLevel(target.width / width);
    if (level > 0) {
        --level;  // one finer than enough, so the reduction stays sharp
    }
    LevelAccess access(*image, level, PictureAccess::AsLoaded);
    const ImageBuffer& source = access.image();
    if (!source.pixels || pictureWidth <= 0.0 || pictureHeight <= 0.0) {
        return 0;
    }
    const double sx = source.width / pictureWidth;
    const double sy = source.height / pictureHeight;
    const auto W = static_cast<float>(target.width);
    const auto H = static_cast<float>(target.height);
    const auto f = [](double v) { return static_cast<float>(v); };
    const MeshVertex corners[4] = {
        {f(x * sx), f(y * sy), 0, 0, 0},
        {f((x + width) * sx), f(y * sy), 0, W, 0},
        {f((x + width) * sx), f((y + height) * sy), 0, W, H},
        {f(x * sx), f((y + height) * sy), 0, 0, H},
    };
    RenderSurface surface;
    if (!surface.create(kernelBitmapOf(target, FieldMode::Frame), 0)) {
        return 0;
    }
    const bool ok = mapPolygon(surface, nullptr, kernelBitmapOf(source, FieldMode::Frame), corners,
                               4, surface.kernelFlags);
    surface.finish();
    return ok ? 1 : 0;
}

}  // namespace pm
