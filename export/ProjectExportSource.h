#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/TickTime.h"
#include "export/PluginApi.h"
#include "render/ImageBuffer.h"
#include "render/RenderModes.h"

namespace pm {

class ProjectContext;
class ProgressReporter;
class SoundTrack;
class ProjectRenderer;

// What an exporter pulls a project's frames and sound from during one run. While it exists the
// project is in its export state, changes are held back in a batch, and frames come flattened
// onto the background unless the exporter asks to keep alpha; everything is restored at the end.
class ProjectExportSource final : public plugin::ExportSource {
public:
    // `sound` and `progress` may be null. `title` is the project's document title.
    ProjectExportSource(ProjectContext& context, SoundTrack* sound, ProgressReporter* progress,
                        std::string title);
    virtual ~ProjectExportSource();
    ProjectExportSource(const ProjectExportSource&) = delete;
    ProjectExportSource& operator=(const ProjectExportSource&) = delete;

    std::int32_t projectTitle(plugin::TextObject* title) override;
    TickTime* duration(TickTime* out) override;
    std::int32_t audioFormat(plugin::AudioFormatDesc* format) override;
    std::int32_t audio(plugin::AudioBuffer* buffer) override;
    // A frame's yScale of 0 or less asks for the whole frame: the rows the project's display
    // aspect gives for the frame's width are fitted to the frame's height.
    std::int32_t videoFrame(plugin::VideoFrame* frame) override;
    std::int32_t keepAlpha(std::int32_t keep) override;

    int framesRendered() const { return m_frames; }
    // Exports only [start, end) of the project: the exporter sees a project of that length.
    void setRange(TickTime start, TickTime end);
    // A frame of another shape than the project's display aspect shows the whole project frame
    // fitted inside it, with bars of the background colour, instead of stretched over it.
    void setFitInside(bool fit) { m_fitInside = fit; }
    // While the exporter works on a frame, the next one (at the same step) can be rendered on
    // another thread; by default only when the exporter's own work per frame is worth overlapping
    // and leaves a processor idle (judged once, over the first frames of a run). The frames are
    // the same bytes either way.
    enum class RenderAhead { Off, WhenUseful, Always };
    void setRenderAhead(RenderAhead mode) { m_renderAhead = mode; }

private:
    ProjectContext& m_context;
    SoundTrack* m_sound;
    ProgressReporter* m_progress;
    std::string m_title;
    TickTime m_duration;
    TickTime m_start = 0;
    int m_previousExportState = 0;
    bool m_previousFlatten = true;
    int m_frames = 0;
    std::uint32_t m_plannedWidth = 0;
    // Scenes before this index have ended before the frames asked for now: their pictures went.
    int m_passed = 0;
    // One renderer for the run, so frames reuse its buffers.
    std::unique_ptr<ProjectRenderer> m_renderer;
    bool m_fitInside = false;

    struct Request {
        TickTime time = -1;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        FieldMode fields = FieldMode::Frame;
        float yScale = 1.0f;
        bool operator==(const Request&) const = default;
    };
    RenderQuality render(const ImageBuffer& bgra, const Request& request);
    // Every frame of the run is known: each picture is decoded only as large as the most
    // detailed of its frames at this output width draws it, and gets only the reduced copies its
    // frames draw from.
    void planDetail(std::uint32_t outputWidth);
    void finishAhead();
    // Whether rendering ahead pays, from the processors' use over the first frames rendered in
    // turn.
    bool aheadUseful();
    ImageBuffer fittedArea(const ImageBuffer& frame) const;
    // Frames come in time order: the pictures of scenes that ended before `now` are let go, so
    // that a show of hundreds of pictures holds only those of the scenes at hand.
    void releasePassedScenes(TickTime now);
    RenderAhead m_renderAhead = RenderAhead::WhenUseful;
    std::thread m_ahead;
    Request m_aheadRequest;
    ImageBuffer m_aheadBuffer;
    RenderQuality m_aheadQuality = RenderQuality::Failed;
    bool m_aheadReady = false;
    TickTime m_lastTime = -1;
    // How long a frame takes to render, and how long the exporter works between two requests:
    // rendering ahead only pays when the exporter's own work is worth overlapping.
    double m_renderSeconds = 0.0;
    double m_exporterSeconds = 0.0;
    std::chrono::steady_clock::time_point m_returned{};
    int m_measuredFrames = 0;
    std::chrono::steady_clock::time_point m_measureStart{};
    double m_measureCpu = 0.0;
    bool m_aheadDecided = false;
    bool m_aheadUseful = false;
};

}  // namespace pm
