#include "export/ProjectExportSource.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "audio/SoundTrack.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/RendererGate.h"
#include "core/Scene.h"
#include "core/ScenePicture.h"
#include "render/FrameFit.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/RenderEntry.h"
#include "render/RenderRequest.h"
#include "render/SceneImage.h"

namespace pm {

namespace {

ImageBuffer imageOf(const plugin::FrameImage& f) {
    ImageBuffer image;
    image.format = static_cast<PixelFormat>(f.format);
    image.width = static_cast<std::uint32_t>(f.width);
    image.height = static_cast<std::uint32_t>(f.height);
    image.pitch = f.pitch;
    image.bitsPerPixel = static_cast<std::uint32_t>(f.bitsPerPixel);
    image.pixels = f.pixels;
    return image;
}

}  // namespace

ProjectExportSource::ProjectExportSource(ProjectContext& context, SoundTrack* sound,
                                         ProgressReporter* progress, std::string title)
    : m_context(context),
      m_sound(sound),
      m_progress(progress),
      m_title(std::move(title)),
      m_duration(context.project().projectLength()),
      m_renderer(std::make_unique<ProjectRenderer>(context)) {
    if (m_progress) {
        m_progress->setFraction(0.0);
    }
    m_context.beginBatch(true);
    m_previousExportState = m_context.project().exportState();
    m_context.project().setExportState(1);
    m_previousFlatten = setFlattenAlpha(true);
    // Pictures the memory limit reduced for the preview are drawn at full resolution: let them
    // go, so that each loads afresh (without the limit, while exporting) when first drawn.
    Project& project = m_context.project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene& scene = *project.sceneAt(i);
        ScenePicture& picture = scene.picture();
        if (picture.isLoaded() && !picture.isDefault() &&
            picture.width() < picture.decodedWidth()) {
            RendererGate::EditGuard edit(scene.rendererGate());
            picture.unload();
        }
    }
}

ProjectExportSource::~ProjectExportSource() {
    finishAhead();
    PerfKit::free(&m_aheadBuffer);
    // Pictures made for this run's frames alone (reduced, or without their coarser copies) are
    // made whole again when the preview next needs them.
    Project& project = m_context.project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene& scene = *project.sceneAt(i);
        if (auto* image = dynamic_cast<SceneImage*>(&scene.picture())) {
            image->setDetailNeeded({});
            if (image->isLoaded() && image->madeFor().known()) {
                RendererGate::EditGuard edit(scene.rendererGate());
                image->unload();
            }
        }
    }
    setFlattenAlpha(m_previousFlatten);
    m_context.project().setExportState(m_previousExportState);
    m_context.endBatch(false);
    if (m_progress) {
        m_progress->setFraction(100.0);
    }
}

void ProjectExportSource::setRange(TickTime start, TickTime end) {
    const TickTime length = m_context.project().projectLength();
    m_start = std::clamp<TickTime>(start, 0, length);
    m_duration = std::clamp<TickTime>(end, m_start, length) - m_start;
}

std::int32_t ProjectExportSource::projectTitle(plugin::TextObject* title) {
    if (!title) {
        return 0;
    }
    title->set(m_title.c_str());
    return m_title.empty() ? 0 : 1;
}

TickTime* ProjectExportSource::duration(TickTime* out) {
    if (out) {
        *out = m_duration;
    }
    return out;
}

std::int32_t ProjectExportSource::audioFormat(plugin::AudioFormatDesc* format) {
    if (!format) {
        return 0;
    }
    *format = plugin::AudioFormatDesc{};
    if (!m_sound || !m_sound->isPresent()) {
        return 0;
    }
    const SoundFormat sound = m_sound->soundFormat();
    format->formatTag = 1;
    format->channels = static_cast<std::uint32_t>(sound.channels);
    format->samplesPerSecond = static_cast<std::uint32_t>(sound.rate);
    format->bitsPerSample = static_cast<std::uint32_t>(sound.bits);
    format->bytesPerFrame = static_cast<std::uint32_t>(sound.channels * sound.bits / 8);
    return 1;
}

std::int32_t ProjectExportSource::audio(plugin::AudioBuffer* buffer) {
    if (!buffer || !buffer->valid) {
        return 0;
    }
    SampleRequest request;
    request.format.rate = static_cast<int>(buffer->format.samplesPerSecond);
    request.format.channels = static_cast<int>(buffer->format.channels);
    request.format.bits = static_cast<int>(buffer->format.bitsPerSample);
    request.frames = buffer->capacity;
    request.data = buffer->data;
    request.position = buffer->position +
                       m_start * static_cast<std::int64_t>(request.format.rate) / kTicksPerSecond;
    if (!request.format.isValid()) {
        return 0;
    }
    if (!m_sound) {
        // No sound: silence in the asked format.
        const int silence = request.format.bits == 8 ? 128 : 0;
        std::memset(buffer->data, silence,
                    static_cast<std::size_t>(buffer->capacity) * request.format.bytesPerFrame());
        return 1;
    }
    return m_sound->readSamples(request, true) ? 1 : 0;
}

std::int32_t ProjectExportSource::videoFrame(plugin::VideoFrame* frame) {
    if (!frame || !frame->valid) {
        return 0;
    }
    if (m_progress && m_duration > 0) {
        const double percent = 100.0 * static_cast<double>(frame->time) / m_duration;
        if (!m_progress->setFraction(percent)) {
            return 0;
        }
    } else if (m_progress && m_progress->cancelled()) {
        return 0;
    }
    const ImageBuffer target = imageOf(frame->image);
    ImageBuffer bgra = target;
    ImageBuffer temporary;
    if (target.format != PixelFormat::Bgra32) {
        if (PerfKit::allocate(&temporary, PixelFormat::Bgra32, static_cast<int>(target.width),
                              static_cast<int>(target.height)) != PixelStatus::Ok) {
            return 0;
        }
        bgra = temporary;
    }
    // The part of the frame the project's frame is drawn into: all of it, or the fitted middle.
    const ImageBuffer area = frame->yScale > 0.0f ? bgra : fittedArea(bgra);
    for (const ImageBuffer& bar : barsAround(bgra, area)) {
        if (bar.width > 0 && bar.height > 0) {
            m_renderer->fillBackground(bar);
        }
    }
    Request request;
    request.time = frame->time;
    request.width = area.width;
    request.height = area.height;
    request.fields = frame->fieldMode == plugin::kWholeFrame    ? FieldMode::Frame
                     : frame->fieldMode == plugin::kSecondField ? FieldMode::Second
                                                                : FieldMode::First;
    request.yScale = frame->yScale;
    if (!(request.yScale > 0.0f)) {
        const double aspect = m_context.project().vAspRatio();
        request.yScale = static_cast<float>(area.height * aspect / area.width);
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point called = Clock::now();
    if (m_returned != Clock::time_point{}) {
        m_exporterSeconds = std::chrono::duration<double>(called - m_returned).count();
    }
    finishAhead();
    planDetail(request.width);
    RenderQuality quality = RenderQuality::Failed;
    if (m_aheadReady && m_aheadRequest == request) {
        quality = m_aheadQuality;
        if (quality != RenderQuality::Failed &&
            PerfKit::copy(area, m_aheadBuffer) != PixelStatus::Ok) {
            quality = RenderQuality::Failed;
        }
    } else {
        quality = render(area, request);
        m_renderSeconds = std::chrono::duration<double>(Clock::now() - called).count();
    }
    m_aheadReady = false;
    if (quality != RenderQuality::Failed && temporary.pixels &&
        PerfKit::copy(target, temporary) != PixelStatus::Ok) {
        quality = RenderQuality::Failed;
    }
    PerfKit::free(&temporary);

    if (quality != RenderQuality::Failed) {
        releasePassedScenes(m_start + frame->time);
    }
    // Exporters ask at a steady step: the next frame is probably one step on.
    const TickTime step = m_lastTime >= 0 ? frame->time - m_lastTime : 0;
    m_lastTime = frame->time;
    const bool ahead = m_renderAhead == RenderAhead::Always ||
                       (m_renderAhead == RenderAhead::WhenUseful && aheadUseful());
    if (quality != RenderQuality::Failed && ahead && step > 0 && frame->time + step < m_duration) {
        if (m_aheadBuffer.width != request.width || m_aheadBuffer.height != request.height) {
            PerfKit::free(&m_aheadBuffer);
            PerfKit::allocate(&m_aheadBuffer, PixelFormat::Bgra32, static_cast<int>(request.width),
                              static_cast<int>(request.height));
        }
        if (m_aheadBuffer.pixels) {
            m_aheadRequest = request;
            m_aheadRequest.time = frame->time + step;
            m_ahead = std::thread([this] {
                m_aheadQuality = render(m_aheadBuffer, m_aheadRequest);
                m_aheadReady = true;
            });
        }
    }
    if (quality != RenderQuality::Failed) {
        ++m_frames;
    }
    m_returned = Clock::now();
    return quality != RenderQuality::Failed ? 1 : 0;
}

void ProjectExportSource::releasePassedScenes(TickTime now) {
    // A scene shows until a little before its end; past its end by this much it is done.
    constexpr TickTime kMargin = kTicksPerSecond / 10;
    Project& project = m_context.project();
    while (m_passed < project.sceneCount() && project.endAt(m_passed) + kMargin < now) {
        Scene& scene = *project.sceneAt(m_passed);
        ScenePicture& picture = scene.picture();
        if (picture.isLoaded() && !picture.isDefault()) {
            RendererGate::EditGuard edit(scene.rendererGate());
            picture.unload();
        }
        ++m_passed;
    }
}

ImageBuffer ProjectExportSource::fittedArea(const ImageBuffer& frame) const {
    return m_fitInside ? pm::fittedArea(frame, m_context.project().vAspRatio()) : frame;
}

bool ProjectExportSource::aheadUseful() {
    if (m_aheadDecided) {
        return m_aheadUseful;
    }
    // The first frames load pictures and fill the encoder's look-ahead: the measure starts after
    // them.
    constexpr int kSettle = 40;
    constexpr int kMeasured = 15;
    const auto now = std::chrono::steady_clock::now();
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    const double cpuSeconds =
        static_cast<double>(cpu.tv_sec) + 1e-9 * static_cast<double>(cpu.tv_nsec);
    ++m_measuredFrames;
    if (m_measuredFrames == kSettle) {
        m_measureStart = now;
        m_measureCpu = cpuSeconds;
    } else if (m_measuredFrames == kSettle + kMeasured) {
        const double wall = std::chrono::duration<double>(now - m_measureStart).count();
        const double busy = wall > 0.0 ? (cpuSeconds - m_measureCpu) / wall : 0.0;
        // Rendering ahead pays only for an exporter that leaves a processor idle while it works
        // on a frame (an encoder on one thread); one that keeps them all busy (a threaded video
        // encoder) would only lose the copy, and a quick one (raw frames) would make the two
        // renders fight for the processors.
        m_aheadUseful =
            busy < PerfKit::processorCount() - 0.5 && m_exporterSeconds > 0.5 * m_renderSeconds;
        m_aheadDecided = true;
    }
    return false;
}

void ProjectExportSource::planDetail(std::uint32_t outputWidth) {
    if (outputWidth == m_plannedWidth) {
        return;
    }
    m_plannedWidth = outputWidth;
    Project& project = m_context.project();
    for (int i = 0; i < project.sceneCount(); ++i) {
        Scene& scene = *project.sceneAt(i);
        auto* image = dynamic_cast<SceneImage*>(&scene.picture());
        if (image == nullptr || image->isDefault()) {
            continue;
        }
        const SceneImage::DetailNeeded need =
            image->detailNeeded(scene, static_cast<int>(outputWidth));
        image->setDetailNeeded(need);
        // Made for another run's frames: made again when next drawn.
        const SceneImage::DetailNeeded made = image->madeFor();
        if (image->isLoaded() && made.known() && made != need) {
            RendererGate::EditGuard edit(scene.rendererGate());
            image->unload();
        }
    }
}

RenderQuality ProjectExportSource::render(const ImageBuffer& bgra, const Request& request) {
    RenderRequest frame;
    frame.time = m_start + request.time;
    frame.rangeStart = 0;
    frame.rangeLength = m_context.project().projectLength();
    frame.yScale = request.yScale;
    frame.fields = request.fields;
    frame.target = bgra;
    if (request.fields != FieldMode::Frame && bgra.height % 2 == 0) {
        // A field request describes the field's own rows: every other row of the frame.
        frame.target.pixels = bgra.pixels + (request.fields == FieldMode::Second ? bgra.pitch : 0);
        frame.target.pitch = bgra.pitch * 2;
        frame.target.height = bgra.height / 2;
    } else if (request.fields != FieldMode::Frame) {
        // An odd number of rows has no field of its own size: the frame draws the field's rows.
        return m_renderer->renderRequest(frame, PictureAccess::Full);
    }
    return renderForRequest(*m_renderer, frame, PictureAccess::Full);
}

void ProjectExportSource::finishAhead() {
    if (m_ahead.joinable()) {
        m_ahead.join();
    }
}

std::int32_t ProjectExportSource::keepAlpha(std::int32_t keep) {
    return setFlattenAlpha(keep == 0) ? 0 : 1;
}

}  // namespace pm
