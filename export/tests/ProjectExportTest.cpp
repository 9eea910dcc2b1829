#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "audio/SoundTrack.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "core/ScenePicture.h"
#include "export/ExportJob.h"
#include "export/ExporterManager.h"
#include "export/ProjectExportSource.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/RenderRequest.h"
#include "render/Renderer.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/tests/PictureFiles.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

// Stops the run once it passes a given position.
class CancellingProgress : public ProgressReporter {
public:
    double cancelAt = 101.0;
    void refresh() override {
        if (position() * 100.0 >= cancelAt) {
            cancel();
        }
    }
};

class ProjectExportTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    ProjectContext context;
    HeadlessHostServices host;
    ExporterManager manager{host};

    void SetUp() override {
        ASSERT_TRUE(context.initialise(false));
        installScenePictures(context);
        const std::string picture = folder.file("p.png");
        test::writeFile(picture, test::encodePicture(320, 240, 24, FIF_PNG, test::gradient));
        ASSERT_GE(context.project().insertSceneAt(0, picture, 2 * kTicksPerSecond), 0);
        ASSERT_GE(context.project().insertSceneAt(context.project().projectLength(), picture,
                                                  2 * kTicksPerSecond),
                  0);
        ASSERT_TRUE(manager.addModule(PLUGIN_DIR "/ffmpeg.mzx"));
    }

    std::unique_ptr<ExporterInstance> mp4() {
        auto exporter = manager.createExporter(manager.findByIdentifier("pictomove.ffmpeg.mp4"));
        MemoryStorage settings;
        EXPECT_TRUE(settings.open());
        StoreKeyPtr data = settings.root();
        data->setInt("Width", 128);
        data->setInt("Height", 72);
        data->setInt64("FrameDuration", kTicksPerSecond / 10);
        data->setString("Speed", "ultrafast");
        EXPECT_TRUE(exporter->loadSettings(data.get()));
        return exporter;
    }

    // The raw-frame writer, ten frames a second.
    std::unique_ptr<ExporterInstance> rawFrames(int width = 96, int height = 54) {
        EXPECT_TRUE(manager.addModule(PLUGIN_DIR "/images.mzx"));
        auto exporter = manager.createExporter(manager.findByIdentifier("pictomove.images.raw"));
        MemoryStorage settings;
        EXPECT_TRUE(settings.open());
        settings.root()->setInt("Width", width);
        settings.root()->setInt("Height", height);
        settings.root()->setInt64("FrameDuration", kTicksPerSecond / 10);
        EXPECT_TRUE(exporter->loadSettings(settings.root().get()));
        return exporter;
    }

    // A scene of the picture at `path` after the others, not loaded yet, and the project time
    // half a second into it. The project's assumed output width becomes `width`: a steady zoom
    // takes its level for that width.
    struct AddedScene {
        Scene& scene;
        SceneImage& picture;
        TickTime time;
    };
    AddedScene addUnloadedScene(const std::string& path, int width) {
        Project& project = context.project();
        EXPECT_GE(project.insertSceneAt(project.projectLength(), path, 2 * kTicksPerSecond), 0);
        Scene& scene = *project.sceneAt(project.sceneCount() - 1);
        auto& picture = dynamic_cast<SceneImage&>(scene.picture());
        picture.unload();
        project.setAssumedWidth(width);
        return {scene, picture, project.startOf(scene.id()) + kTicksPerSecond / 2};
    }

    // The frame at `time` exported as raw frames; `during` runs before the export ends.
    std::vector<std::uint8_t> exportedFrame(TickTime time, int width, int height,
                                            const std::function<void()>& during) {
        const std::string out = folder.file("frame.raw");
        auto exporter = rawFrames(width, height);
        {
            ProjectExportSource source(context, nullptr, nullptr, "");
            source.setRange(time, time + kTicksPerSecond / 10);
            EXPECT_EQ(exporter->run(source, out.c_str()), 1);
            during();
        }
        return test::readFile(out);
    }

    // The renderer's own frame at `time`.
    std::vector<std::uint8_t> renderedFrame(TickTime time, int width, int height) {
        ImageBuffer image;
        EXPECT_EQ(PerfKit::allocate(&image, PixelFormat::Bgra32, width, height), PixelStatus::Ok);
        ProjectRenderer renderer(context);
        const Project& project = context.project();
        EXPECT_NE(renderer.renderFrame(static_cast<double>(time) / project.projectLength(), image,
                                       FieldMode::Frame,
                                       static_cast<float>(height * project.vAspRatio() / width),
                                       PictureAccess::Full),
                  RenderQuality::Failed);
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < height; ++y) {
            bytes.insert(bytes.end(), image.row(y), image.row(y) + 4 * width);
        }
        PerfKit::free(&image);
        return bytes;
    }
};

TEST_F(ProjectExportTest, RendersEveryFrameOfTheProjectIntoAFile) {
    const std::string out = folder.file("project.mp4");
    auto exporter = mp4();
    ProgressReporter progress;
    progress.begin("Export");
    int frames = 0;
    {
        ProjectExportSource source(context, nullptr, &progress, "project");
        EXPECT_EQ(context.project().exportState(), 1);
        ASSERT_EQ(exporter->run(source, out.c_str()), 1);
        frames = source.framesRendered();
    }
    EXPECT_EQ(context.project().exportState(), 0);  // restored
    EXPECT_TRUE(flattenAlpha());
    EXPECT_EQ(frames, 30);  // 3 s (two 2 s scenes overlapping by 1 s) at 10 frames per second
    AVFormatContext* format = nullptr;
    ASSERT_EQ(avformat_open_input(&format, out.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(format, nullptr), 0);
    EXPECT_EQ(format->nb_streams, 1u);  // the project has no sound
    EXPECT_EQ(format->streams[0]->codecpar->width, 128);
    avformat_close_input(&format);
}

TEST_F(ProjectExportTest, AFrameOfTheVideoIsTheRenderersFrame) {
    const std::string out = folder.file("match.mp4");
    auto exporter = mp4();
    MemoryStorage fine;
    ASSERT_TRUE(fine.open());
    fine.root()->setInt("Width", 128);
    fine.root()->setInt("Height", 72);
    fine.root()->setInt64("FrameDuration", kTicksPerSecond / 10);
    fine.root()->setInt("Quality", 4);
    ASSERT_TRUE(exporter->loadSettings(fine.root().get()));
    {
        ProjectExportSource source(context, nullptr, nullptr, "match");
        ASSERT_EQ(exporter->run(source, out.c_str()), 1);
    }
    // Frame 5 (0.5 s, in the middle of the first scene), decoded back to BGRA.
    const std::string command = "ffmpeg -loglevel error -i '" + out +
                                "' -vf 'select=eq(n\\,5)' -frames:v 1 -f rawvideo -pix_fmt bgra -";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::uint8_t> decoded(128 * 72 * 4);
    const std::size_t got = std::fread(decoded.data(), 1, decoded.size(), pipe);
    pclose(pipe);
    ASSERT_EQ(got, decoded.size());

    ImageBuffer expected;
    ASSERT_EQ(PerfKit::allocate(&expected, PixelFormat::Bgra32, 128, 72), PixelStatus::Ok);
    const double aspect = context.project().vAspRatio();
    ProjectRenderer renderer(context);
    ASSERT_NE(renderer.renderFrame(0.5 / 3.0, expected, FieldMode::Frame,
                                   static_cast<float>(72 * aspect / 128), PictureAccess::Full),
              RenderQuality::Failed);
    // Brightness is kept at full resolution by 4:2:0 video, colour is not: compare brightness.
    const auto luma = [](const std::uint8_t* p) {
        return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    };
    double difference = 0.0;
    double toBlack = 0.0;  // what a frame that was not drawn would differ by
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 128; ++x) {
            const double d = luma(&decoded[(y * 128 + x) * 4]);
            difference += std::abs(d - luma(expected.row(y) + x * 4));
            toBlack += d;
        }
    }
    PerfKit::free(&expected);
    const double pixels = 128.0 * 72.0;
    EXPECT_LT(difference / pixels, 5.0);
    EXPECT_GT(toBlack / pixels, 50.0);
}

TEST_F(ProjectExportTest, RenderingAheadGivesTheSameFrames) {
    std::vector<std::string> files;
    for (const bool ahead : {false, true}) {
        auto exporter = rawFrames();
        files.push_back(folder.file(ahead ? "ahead.raw" : "plain.raw"));
        ProjectExportSource source(context, nullptr, nullptr, "");
        source.setRenderAhead(ahead ? ProjectExportSource::RenderAhead::Always
                                    : ProjectExportSource::RenderAhead::Off);
        ASSERT_EQ(exporter->run(source, files.back().c_str()), 1);
        EXPECT_EQ(source.framesRendered(), 30);
    }
    EXPECT_EQ(test::readFile(files[0]), test::readFile(files[1]));
    EXPECT_EQ(test::readFile(files[0]).size(), 30u * 96 * 54 * 4);
}

// Frames come in time order, so a scene that has ended lets its picture go: a show of hundreds
// of pictures holds only those of the scenes at hand. The frames stay those of the renderer.
TEST_F(ProjectExportTest, PicturesOfScenesThatEndedAreLetGo) {
    Project& project = context.project();
    const std::string other = folder.file("q.png");
    test::writeFile(other, test::encodePicture(240, 320, 24, FIF_PNG, test::gradient));
    for (int i = 0; i < 3; ++i) {
        ASSERT_GE(project.insertSceneAt(project.projectLength(), other, 2 * kTicksPerSecond), 0);
    }
    const TickTime step = kTicksPerSecond / 4;
    ProjectExportSource source(context, nullptr, nullptr, "");
    plugin::VideoFrame* frame =
        plugin::VideoFrame::create(plugin::kBgra32, 64, 48, plugin::kWholeFrame, 0.0f);
    ASSERT_TRUE(frame->valid);
    for (TickTime t = 0; t < project.projectLength(); t += step) {
        frame->setTime(t);
        ASSERT_EQ(source.videoFrame(frame), 1) << t;
        for (int i = 0; i < project.sceneCount(); ++i) {
            const bool ended = project.endAt(i) + kTicksPerSecond / 10 < t;
            if (ended) {
                EXPECT_FALSE(project.sceneAt(i)->picture().isLoaded()) << i << " at " << t;
            }
        }
        const SceneAtTime at =
            project.sceneAtTime(static_cast<double>(t) / project.projectLength());
        if (at.index >= 0) {
            EXPECT_TRUE(project.sceneAt(at.index)->picture().isLoaded()) << t;
        }
    }
    frame->release();
}

// A picture the memory limit reduced for the preview is drawn at its full resolution in an
// export; the limit applies again afterwards.
TEST_F(ProjectExportTest, PicturesReducedForThePreviewAreExportedAtFullResolution) {
    const std::string big = folder.file("big.png");
    test::writeFile(big, test::encodePicture(1200, 1000, 24, FIF_PNG, test::gradient));
    Project& project = context.project();
    applyImageMemory(context, {true, 2});  // the picture is 4 MB
    ASSERT_GE(project.insertSceneAt(project.projectLength(), big, 2 * kTicksPerSecond), 0);
    ScenePicture& picture = project.sceneAt(project.sceneCount() - 1)->picture();
    ASSERT_TRUE(picture.ensureLoaded());
    ASSERT_LT(picture.width(), 1200);
    ASSERT_EQ(picture.decodedWidth(), 1200);

    auto exporter = rawFrames();
    {
        ProjectExportSource source(context, nullptr, nullptr, "");
        const TickTime start = project.startOf(project.sceneAt(project.sceneCount() - 1)->id());
        source.setRange(start + kTicksPerSecond / 2, start + kTicksPerSecond);
        ASSERT_EQ(exporter->run(source, folder.file("big.raw").c_str()), 1);
        EXPECT_EQ(picture.width(), 1200);
    }
    picture.unload();
    ASSERT_TRUE(picture.ensureLoaded());
    EXPECT_LT(picture.width(), 1200);
}

// An export decodes a large JPEG only as large as its frames need, with only the reduced copies
// they draw from: the frame is the one the full picture gives, within the reduced decode's
// rounding, and the preview gets the full picture back.
TEST_F(ProjectExportTest, LargeJpegsAreDecodedOnlyAsLargeAsTheirFramesNeed) {
    const std::string big = folder.file("stripes.jpg");
    // Stripes 16 pixels wide, about 3 in the frame: a frame drawn from too coarse a level
    // blurs them.
    test::writeFile(big, test::encodePicture(
                             1600, 1200, 24, FIF_JPEG,
                             [](int x, int) {
                                 return (x / 16) % 2 != 0 ? test::bgra(230, 200, 180)
                                                          : test::bgra(30, 60, 90);
                             },
                             JPEG_QUALITYSUPERB));
    constexpr int kWidth = 256;
    constexpr int kHeight = 144;
    // A picture already held whole is drawn as it is; one the export loads is decoded reduced.
    const AddedScene added = addUnloadedScene(big, kWidth);
    SceneImage& picture = added.picture;
    int levelsForExport = 0;
    const std::vector<std::uint8_t> frame = exportedFrame(added.time, kWidth, kHeight, [&] {
        EXPECT_TRUE(picture.reducedForDetail());
        EXPECT_LT(picture.width(), 1600);
        EXPECT_GE(static_cast<std::uint32_t>(picture.width()),
                  picture.detailNeeded(added.scene, kWidth).widest);
        EXPECT_EQ(picture.decodedWidth(), 1600);
        levelsForExport = picture.mipLevelsBuilt();
    });
    EXPECT_FALSE(picture.reducedForDetail());
    ASSERT_EQ(frame.size(), std::size_t{kWidth} * kHeight * 4);

    const std::vector<std::uint8_t> full = renderedFrame(added.time, kWidth, kHeight);
    EXPECT_EQ(picture.width(), 1600);
    // The reduced copies coarser than any frame of the run needed were left out.
    EXPECT_LT(levelsForExport, picture.mipLevelsBuilt());
    // The stripes' contrast: how far neighbouring pixels differ.
    const auto contrast = [](const std::vector<std::uint8_t>& bytes) {
        double sum = 0.0;
        for (std::size_t i = 4; i < bytes.size(); ++i) {
            sum += i % (4 * kWidth) >= 4 ? std::abs(bytes[i] - bytes[i - 4]) : 0;
        }
        return sum;
    };
    double difference = 0.0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        difference += std::abs(frame[i] - full[i]);
    }
    // The reduced decode's filter is not the levels' own, so pixels differ a little; a level
    // chosen against the full size (four times too coarse here) loses a fifth of the contrast.
    EXPECT_LT(difference / static_cast<double>(frame.size()), 5.0);
    EXPECT_NEAR(contrast(frame) / contrast(full), 1.0, 0.1);
}

// An export leaves out the reduced copies coarser than its frames draw from, and draws every
// frame exactly as with all of them.
TEST_F(ProjectExportTest, FramesAreTheSameWithoutTheCopiesTheyDoNotDrawFrom) {
    const std::string big = folder.file("stripes.png");
    test::writeFile(big, test::encodePicture(1600, 1200, 24, FIF_PNG, [](int x, int y) {
                        return test::bgra((x / 3) % 2 * 200, y % 256, (x + y) % 256);
                    }));
    constexpr int kWidth = 256;
    constexpr int kHeight = 144;
    const AddedScene added = addUnloadedScene(big, kWidth);
    int levelsForExport = 0;
    const std::vector<std::uint8_t> frame = exportedFrame(added.time, kWidth, kHeight, [&] {
        EXPECT_FALSE(added.picture.reducedForDetail());  // not a JPEG
        levelsForExport = added.picture.mipLevelsBuilt();
    });
    EXPECT_EQ(frame, renderedFrame(added.time, kWidth, kHeight));
    EXPECT_GT(added.picture.mipLevelsBuilt(), levelsForExport);
}

TEST_F(ProjectExportTest, CancellingStopsTheRunAndLeavesNoFile) {
    const std::string out = folder.file("cancelled.mp4");
    auto exporter = mp4();
    CancellingProgress progress;
    progress.cancelAt = 40.0;
    progress.begin("Export");
    ProjectExportSource source(context, nullptr, &progress, "project");
    EXPECT_EQ(exporter->run(source, out.c_str()), 0);
    EXPECT_LT(source.framesRendered(), 30);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(ProjectExportTest, AJobRunsTheExporterOnItsOwnThread) {
    std::shared_ptr<ExporterInstance> exporter = mp4();
    const std::string out = folder.file("job.mp4");
    ProgressReporter progress;
    {
        ExportJob job(context, nullptr, exporter, out, "job", &progress);
        job.start();
        EXPECT_EQ(job.wait(), 1);
        EXPECT_TRUE(job.finished());
    }
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_FALSE(progress.active());
    EXPECT_EQ(context.project().exportState(), 0);

    const std::string cancelled = folder.file("job-cancelled.mp4");
    CancellingProgress stop;
    stop.cancelAt = 30.0;
    ExportJob job(context, nullptr, exporter, cancelled, "job", &stop);
    job.start();
    EXPECT_EQ(job.wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(cancelled));
}

TEST_F(ProjectExportTest, FileNamesAndQuestionsFollowTheFormat) {
    auto exporter = mp4();
    const ExportFileCheck plain = checkExportFile(*exporter, folder.file("show"), false);
    EXPECT_EQ(plain.path, folder.file("show.mp4"));
    EXPECT_FALSE(plain.exists);
    EXPECT_EQ(plain.audioQuestion, 525);  // the writer adds sound the project lacks
    const ExportFileCheck typed = checkExportFile(*exporter, folder.file("p.png"), true);
    EXPECT_EQ(typed.path, folder.file("p.png"));  // a typed extension stays
    EXPECT_TRUE(typed.exists);                    // the picture of the fixture
    EXPECT_EQ(typed.audioQuestion, 0);

    MemoryStorage silent;
    ASSERT_TRUE(silent.open());
    silent.root()->setInt("Audio", 0);
    ASSERT_TRUE(exporter->loadSettings(silent.root().get()));
    EXPECT_EQ(checkExportFile(*exporter, folder.file("show"), true).audioQuestion, 526);

    EXPECT_EQ(preferredFileFormat(manager, "gone.exporter")->identifier, "pictomove.ffmpeg.mp4");
    EXPECT_EQ(preferredFileFormat(manager, "pictomove.ffmpeg.webm")->identifier,
              "pictomove.ffmpeg.webm");
}

TEST_F(ProjectExportTest, SoundIsReadInTheExportersFormat) {
    ProjectExportSource source(context, nullptr, nullptr, "");
    plugin::AudioFormatDesc format;
    EXPECT_EQ(source.audioFormat(&format), 0);
    plugin::AudioFormatDesc wanted{24, 1, 2, 48000, 4, 16};
    plugin::AudioBuffer* buffer = plugin::AudioBuffer::create(256, wanted, 0);
    buffer->data[0] = 7;
    EXPECT_EQ(source.audio(buffer), 1);
    EXPECT_EQ(buffer->data[0], 0);  // silence without sound
    buffer->release();
    plugin::TextObject* none = nullptr;
    EXPECT_EQ(source.projectTitle(none), 0);
}

}  // namespace
}  // namespace pm
