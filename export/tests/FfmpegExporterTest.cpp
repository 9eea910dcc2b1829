#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "export/ExporterManager.h"
#include "export/plugins/ffmpeg/I420Converter.h"
#include "export/tests/ExportSourceFixtures.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

struct Probe {
    int videoPackets = 0;
    int audioPackets = 0;
    int width = 0;
    int height = 0;
    double seconds = 0;
    bool hasAudio = false;
    std::string videoCodec;
    std::string audioCodec;
};

Probe probe(const std::string& path) {
    Probe p;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return p;
    }
    avformat_find_stream_info(format, nullptr);
    int video = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            video = static_cast<int>(i);
            p.width = par->width;
            p.height = par->height;
            p.videoCodec = avcodec_get_name(par->codec_id);
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            p.hasAudio = true;
            p.audioCodec = avcodec_get_name(par->codec_id);
        }
    }
    p.seconds = format->duration > 0 ? format->duration / static_cast<double>(AV_TIME_BASE) : 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        (packet->stream_index == video ? p.videoPackets : p.audioPackets)++;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return p;
}

class FfmpegExporterTest : public ::testing::Test {
protected:
    HeadlessHostServices host;
    ExporterManager manager{host};
    std::filesystem::path dir;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("pm-export-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        ASSERT_TRUE(manager.addModule(PLUGIN_DIR "/ffmpeg.mzx"));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // An exporter for the format with settings for a small, quick video.
    std::unique_ptr<ExporterInstance> exporterFor(const std::string& id, int width, int height) {
        auto exporter = manager.createExporter(manager.findByIdentifier(id));
        MemoryStorage settings;
        EXPECT_TRUE(settings.open());
        StoreKeyPtr data = settings.root();
        data->setInt("Width", width);
        data->setInt("Height", height);
        data->setInt64("FrameDuration", kTicksPerSecond / 10);
        data->setString("Speed", "ultrafast");
        EXPECT_TRUE(exporter->loadSettings(data.get()));
        return exporter;
    }
};

TEST_F(FfmpegExporterTest, WritesPlayableFilesWithPictureAndSound) {
    struct Case {
        const char* id;
        const char* file;
        const char* video;
        const char* audio;
    };
    const Case cases[] = {{"pictomove.ffmpeg.mp4", "out.mp4", "h264", "aac"},
                          {"pictomove.ffmpeg.mov", "out.mov", "prores", "pcm_s16le"},
                          {"pictomove.ffmpeg.webm", "out.webm", "vp9", "opus"}};
    for (const Case& c : cases) {
        auto exporter = exporterFor(c.id, 97, 50);  // odd width: made even
        ASSERT_NE(exporter, nullptr) << c.id;
        ToneAndGradient source;
        const std::string path = (dir / c.file).string();
        ASSERT_EQ(exporter->run(source, path.c_str()), 1) << c.id;
        EXPECT_EQ(source.framesServed, 20) << c.id;
        const Probe p = probe(path);
        EXPECT_EQ(p.width, 96) << c.id;
        EXPECT_EQ(p.height, 50) << c.id;
        EXPECT_EQ(p.videoPackets, 20) << c.id;
        EXPECT_TRUE(p.hasAudio) << c.id;
        EXPECT_EQ(p.videoCodec, c.video);
        EXPECT_EQ(p.audioCodec, c.audio);
        EXPECT_GT(p.audioPackets, 0) << c.id;
        EXPECT_NEAR(p.seconds, 2.0, 0.1) << c.id;
    }
}

TEST_F(FfmpegExporterTest, ProjectsWithoutSoundGetNoSoundTrack) {
    auto exporter = exporterFor("pictomove.ffmpeg.mp4", 64, 48);
    ToneAndGradient source;
    source.withSound = false;
    const std::string path = (dir / "silent.mp4").string();
    ASSERT_EQ(exporter->run(source, path.c_str()), 1);
    EXPECT_FALSE(probe(path).hasAudio);
}

TEST_F(FfmpegExporterTest, CancellingRemovesThePartialFile) {
    auto exporter = exporterFor("pictomove.ffmpeg.mp4", 64, 48);
    ToneAndGradient source;
    source.cancelAfter = 5;
    const std::string path = (dir / "cancelled.mp4").string();
    EXPECT_EQ(exporter->run(source, path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    // An unwritable place fails cleanly too.
    EXPECT_EQ(exporter->run(source, "/nonexistent/folder/out.mp4"), 0);
    EXPECT_EQ(exporter->run(source, nullptr), 0);
}

TEST_F(FfmpegExporterTest, Y4mFilesHoldTheConvertedPicturesAsTheyAre) {
    auto exporter = exporterFor("pictomove.ffmpeg.y4m", 64, 48);
    EXPECT_EQ(exporter->configurationSummary(),
              "64 x 48, 10 frames per second, quality 20, no sound");
    ToneAndGradient source;
    const std::string path = (dir / "frames.y4m").string();
    ASSERT_EQ(exporter->run(source, path.c_str()), 1);
    const Probe p = probe(path);
    EXPECT_EQ(p.videoCodec, "rawvideo");
    EXPECT_EQ(p.videoPackets, 20);
    EXPECT_FALSE(p.hasAudio);

    // The first frame, as the source drew it, through the converter the encoders get it from.
    ToneAndGradient again;
    plugin::VideoFrame* frame =
        plugin::VideoFrame::create(plugin::kBgra32, 64, 48, plugin::kWholeFrame, 0.0f);
    ASSERT_NE(frame, nullptr);
    again.videoFrame(frame);
    std::vector<std::uint8_t> expected(64 * 48 * 3 / 2);
    std::uint8_t* planes[3] = {expected.data(), expected.data() + 64 * 48,
                               expected.data() + 64 * 48 * 5 / 4};
    const int strides[3] = {64, 32, 32};
    exporters::I420Converter(exporters::YuvMatrix::Bt709)
        .convert(frame->image.pixels, frame->image.pitch, 64, 48, planes, strides);
    frame->release();

    AVFormatContext* format = nullptr;
    ASSERT_GE(avformat_open_input(&format, path.c_str(), nullptr, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    ASSERT_GE(av_read_frame(format, packet), 0);
    ASSERT_EQ(packet->size, static_cast<int>(expected.size()));
    EXPECT_EQ(std::memcmp(packet->data, expected.data(), expected.size()), 0);
    av_packet_free(&packet);
    avformat_close_input(&format);
}

// Files may grow to `bytes` while it lives: writing past that fails as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_signal = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_old.rlim_max};
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_signal);
    }
    bool set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_signal)(int) = nullptr;
    bool m_set = false;
};

TEST_F(FfmpegExporterTest, AFullDiskEndsTheRunAndRemovesThePartialFile) {
    // Large frames (intra-coded), so that writing starts long before the end.
    auto exporter = exporterFor("pictomove.ffmpeg.mov", 320, 240);
    const std::string whole = (dir / "whole.mov").string();
    ToneAndGradient first;
    ASSERT_EQ(exporter->run(first, whole.c_str()), 1);
    const auto size = std::filesystem::file_size(whole);
    // The disk fills up halfway through the frames.
    const std::string path = (dir / "full.mov").string();
    ToneAndGradient source;
    {
        FileSizeLimit limit(size / 2);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(exporter->run(source, path.c_str()), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_LT(source.framesServed, 20) << "the run goes on after the write failed";
}

TEST_F(FfmpegExporterTest, SettingsRoundTripThroughAPreset) {
    auto exporter = exporterFor("pictomove.ffmpeg.mp4", 1280, 720);
    MemoryStorage preset;
    ASSERT_TRUE(preset.open());
    StoreKeyPtr data = preset.root();
    ASSERT_TRUE(exporter->saveSettings(data.get()));
    EXPECT_EQ(data->getInt("Width", 0), 1280);
    EXPECT_EQ(data->getInt64("FrameDuration", 0), kTicksPerSecond / 10);
    EXPECT_EQ(exporter->configurationSummary(),
              "1280 x 720, 10 frames per second, quality 20, with sound");
    EXPECT_EQ(exporter->presetName(), "MP4 Video");
}

}  // namespace
}  // namespace pm
