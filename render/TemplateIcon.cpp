#include "render/TemplateIcon.h"

#include <algorithm>
#include <cstring>

#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "render/CameraGeometry.h"
#include "render/KernelBitmap.h"
#include "render/LevelAccess.h"
#include "render/PerfKit.h"
#include "render/PolygonMapper.h"
#include "render/RenderRequest.h"
#include "render/RenderSurface.h"
#include "render/SceneImage.h"

namespace pm {

namespace {

constexpr int kIconSide = 200;
constexpr int kTrailWeight = 1228;  // of 4096: about 30 %

KernelBitmap bitmapOf(const ImageBuffer& image) {
    KernelBitmap k;
    k.width = static_cast<int>(image.width);
    k.height = static_cast<int>(image.height);
    k.pitch = image.pitch;
    k.pixels = image.pixels;
    k.bytesPerPixel = 4;
    k.layout = KernelLayout::Bgra32;
    return k;
}

void clear(const ImageBuffer& image) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::memset(image.row(y), 0, static_cast<std::size_t>(image.width) * 4);
    }
}

}  // namespace

bool drawTemplateIcon(Scene& scene, const std::vector<float>& times, bool trails, double iconAspect,
                      ImageBuffer& icon) {
    icon = ImageBuffer{};
    auto* picture = dynamic_cast<SceneImage*>(&scene.picture());
    if (!picture || picture->width() <= 0 || picture->height() <= 0) {
        return false;
    }
    if (!(iconAspect > 0.0)) {
        iconAspect = scene.project().project().vAspRatio();
    }
    const double W = picture->width();
    const double H = picture->height();
    int width = kIconSide;
    int height = std::max(1, static_cast<int>(kIconSide * H / W + 0.5));
    if (iconAspect < 1.0) {
        height = kIconSide;
        width = std::max(1, static_cast<int>(kIconSide * W / H + 0.5));
    }

    // The reduced copy of the whole picture.
    ImageBuffer reduced;
    if (PerfKit::allocate(&reduced, PixelFormat::Bgra32, width, height) != PixelStatus::Ok) {
        return false;
    }
    {
        const LevelAccess full(*picture, 0, PictureAccess::Full);
        const bool ok =
            full.image().pixels && PerfKit::copy(reduced, full.image()) == PixelStatus::Ok;
        if (!ok) {
            PerfKit::free(&reduced);
            return false;
        }
    }
    ImageBuffer frame;
    if (PerfKit::allocate(&icon, PixelFormat::Bgra32, width, height) != PixelStatus::Ok ||
        (trails &&
         PerfKit::allocate(&frame, PixelFormat::Bgra32, width, height) != PixelStatus::Ok)) {
        PerfKit::free(&reduced);
        PerfKit::free(&icon);
        return false;
    }
    clear(icon);
    const ImageBuffer& drawOn = trails ? frame : icon;
    RenderSurface surface;
    bool ok = surface.create(bitmapOf(drawOn), 0);
    const KernelBitmap source = bitmapOf(reduced);
    const auto w = static_cast<float>(width);
    const auto h = static_cast<float>(height);
    for (const float t : times) {
        if (!ok) {
            break;
        }
        const FrameCorners c = evalSceneCorners(scene, std::clamp(t, 0.0f, 1.0f), iconAspect);
        // The whole reduced picture, drawn into the frame's place: top-left, top-right,
        // bottom-right, bottom-left.
        const MeshVertex quad[4] = {
            {0, 0, 1, c[0] * w, c[1] * h},
            {w, 0, 1, c[2] * w, c[3] * h},
            {w, h, 1, c[6] * w, c[7] * h},
            {0, h, 1, c[4] * w, c[5] * h},
        };
        if (trails) {
            clear(frame);
        }
        // Each frame is a picture of its own: coverage starts afresh.
        surface.clear();
        mapPolygon(surface, nullptr, source, quad, 4, surface.kernelFlags);
        if (trails) {
            ok = PerfKit::composite(icon, frame, kTrailWeight) == PixelStatus::Ok;
        }
    }
    PerfKit::free(&frame);
    PerfKit::free(&reduced);
    if (!ok) {
        PerfKit::free(&icon);
    }
    return ok;
}

}  // namespace pm
