// The exporter module that writes video files through FFmpeg: MP4 with H.264 and AAC, QuickTime
// with ProRes and PCM, WebM with VP9 and Opus, and Y4M (the 4:2:0 pictures uncompressed, no
// sound). Frames come from the program as BGRA and are converted here; the sound is pulled in
// step with the pictures. Encoding and writing run on a thread of their own.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "export/PluginApi.h"
#include "export/plugins/EntryModule.h"
#include "export/plugins/ExporterSettings.h"
#include "export/plugins/PartialFile.h"
#include "export/plugins/ffmpeg/EncoderThread.h"
#include "export/plugins/ffmpeg/I420Converter.h"

using namespace pm;
using namespace pm::plugin;
using pm::exporters::AvFrame;
using pm::exporters::EncoderThread;
using pm::exporters::I420Converter;
using pm::exporters::YuvMatrix;

namespace {

// The program's services, for telling the user why a run failed.
HostServices* g_host = nullptr;

struct Container {
    const char* identifier;
    const char* displayName;
    const char* pattern;
    const char* presetName;
    const char* muxer;
    const char* videoEncoder;  // preferred encoder; the codec's default one otherwise
    AVCodecID videoCodec;
    const char* audioEncoder;
    AVCodecID audioCodec;
    AVPixelFormat pixelFormat;
};

const Container kContainers[] = {
    {"pictomove.ffmpeg.mp4", "MPEG-4 Video (H.264, AAC)", "*.mp4", "MP4 Video", "mp4", "libx264",
     AV_CODEC_ID_H264, "aac", AV_CODEC_ID_AAC, AV_PIX_FMT_YUV420P},
    // For editing further: intra-frame 4:2:2 10-bit pictures and uncompressed sound.
    {"pictomove.ffmpeg.mov", "QuickTime Movie (ProRes, PCM)", "*.mov", "QuickTime Movie", "mov",
     "prores_ks", AV_CODEC_ID_PRORES, "pcm_s16le", AV_CODEC_ID_PCM_S16LE, AV_PIX_FMT_YUV422P10LE},
    {"pictomove.ffmpeg.webm", "WebM Video (VP9, Opus)", "*.webm", "WebM Video", "webm",
     "libvpx-vp9", AV_CODEC_ID_VP9, "libopus", AV_CODEC_ID_OPUS, AV_PIX_FMT_YUV420P},
    // The 4:2:0 pictures exactly as the other formats hand them to their encoders, uncompressed,
    // for other programs to encode; no sound.
    {"pictomove.ffmpeg.y4m", "YUV4MPEG2 Video (uncompressed 4:2:0)", "*.y4m", "Y4M Video",
     "yuv4mpegpipe", "wrapped_avframe", AV_CODEC_ID_WRAPPED_AVFRAME, nullptr, AV_CODEC_ID_NONE,
     AV_PIX_FMT_YUV420P},
};

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = AvFrame;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

// Releases a media object when it goes out of scope.
template <typename T>
struct Held {
    T* object;
    explicit Held(T* o) : object(o) {}
    ~Held() {
        if (object) {
            object->release();
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return object; }
};

// One export run: the output file, its streams and encoders.
class Writer {
public:
    Writer(const Container& container, const exporters::VideoSettings& settings)
        : m_container(container), m_settings(settings) {}
    ~Writer() { close(false); }

    bool open(const char* path, const AudioFormatDesc* sound) {
        m_path = path;
        if (avformat_alloc_output_context2(&m_format, nullptr, m_container.muxer, path) < 0 ||
            !m_format) {
            return false;
        }
        if (!openVideo() || (sound && !openAudio(*sound))) {
            return false;
        }
        if (!(m_format->oformat->flags & AVFMT_NOFILE)) {
            if (const int opened = avio_open(&m_format->pb, path, AVIO_FLAG_WRITE); opened < 0) {
                m_writeError = opened;
                return false;
            }
        }
        m_fileOpened = true;
        // Moving the index to the front lets players start before the whole file is read.
        AVDictionary* options = nullptr;
        if (std::strcmp(m_container.muxer, "mp4") == 0 ||
            std::strcmp(m_container.muxer, "mov") == 0) {
            av_dict_set(&options, "movflags", "+faststart", 0);
        }
        const int header = avformat_write_header(m_format, &options);
        av_dict_free(&options);
        if (header < 0) {
            m_writeError = header;
            return false;
        }
        m_encoder = std::make_unique<EncoderThread>(
            [this](AVFrame* frame, int stream) {
                return stream == kVideo ? encode(m_video.get(), m_videoStream, frame)
                                        : encode(m_audio.get(), m_audioStream, frame);
            },
            kFramesQueued);
        return true;
    }

    // Converts one BGRA picture and encodes it as frame number `index`.
    bool writeVideo(const FrameImage& image, std::int64_t index) {
        const std::uint8_t* source[1] = {image.pixels};
        const int stride[1] = {image.pitch};
        // Making it writable copies nothing: the pool leaves it free (see makePool).
        AVFrame* f = m_videoFrames[static_cast<std::size_t>(index) % m_videoFrames.size()].get();
        if (av_frame_make_writable(f) < 0) {
            return false;
        }
        if (m_scaler) {
            sws_scale(m_scaler.get(), source, stride, 0, image.height, f->data, f->linesize);
        } else {
            m_converter.convert(image.pixels, image.pitch, std::min(image.width, f->width),
                                std::min(image.height, f->height), f->data, f->linesize);
        }
        f->pts = index;
        return queue(f, kVideo);
    }

    // Interleaved 16-bit samples, exactly one encoder frame's worth (fewer at the very end).
    bool writeAudio(const std::int16_t* samples, int frames) {
        if (!m_audio) {
            return true;
        }
        AVFrame* f = m_audioFrames[m_audioWritten++ % m_audioFrames.size()].get();
        if (av_frame_make_writable(f) < 0) {
            return false;
        }
        f->nb_samples = frames;
        const int channels = m_audio->ch_layout.nb_channels;
        if (m_audio->sample_fmt == AV_SAMPLE_FMT_FLTP) {
            for (int c = 0; c < channels; ++c) {
                auto* out = reinterpret_cast<float*>(f->data[c]);
                for (int i = 0; i < frames; ++i) {
                    out[i] = static_cast<float>(samples[i * channels + c]) / 32768.0f;
                }
            }
        } else {
            std::memcpy(f->data[0], samples,
                        static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels) * 2);
        }
        f->pts = m_audioSamples;
        m_audioSamples += frames;
        return queue(f, kAudio);
    }

    int audioFrameSize() const { return m_audioFrameSize; }
    std::int64_t audioSamplesWritten() const { return m_audioSamples; }
    bool hasAudio() const { return m_audio != nullptr; }

    bool finish() {
        // The queue is empty afterwards: the flush below runs while its thread waits.
        bool ok = m_encoder->drain();
        ok = ok && encode(m_video.get(), m_videoStream, nullptr);
        if (m_audio) {
            ok = encode(m_audio.get(), m_audioStream, nullptr) && ok;
        }
        if (const int trailer = av_write_trailer(m_format); trailer < 0) {
            m_writeError = trailer;
            ok = false;
        }
        return close(ok) && ok;
    }

    // The reason of the last write that failed (an AVERROR code), 0 when none did.
    int writeError() const { return m_writeError; }

    // Closes the file; an unfinished or failed one is removed rather than left half written.
    // False when the last bytes could not be written.
    bool close(bool keep) {
        if (!m_format) {
            return true;
        }
        m_encoder.reset();  // before the file it writes to closes
        bool closed = true;
        if (m_fileOpened && m_format->pb) {
            // The buffered tail reaches the disk only here.
            avio_flush(m_format->pb);
            const int error = m_format->pb->error;
            if (avio_closep(&m_format->pb) < 0 || error < 0) {
                m_writeError = error < 0 ? error : AVERROR(EIO);
                closed = false;
            }
        }
        avformat_free_context(m_format);
        m_format = nullptr;
        if (m_fileOpened && !(keep && closed)) {
            exporters::removePartialFile(m_path.c_str());
        }
        return closed;
    }

private:
    bool openVideo() {
        const AVCodec* codec = avcodec_find_encoder_by_name(m_container.videoEncoder);
        if (!codec) {
            codec = avcodec_find_encoder(m_container.videoCodec);
        }
        if (!codec) {
            return false;
        }
        m_videoStream = avformat_new_stream(m_format, nullptr);
        m_video.reset(avcodec_alloc_context3(codec));
        if (!m_videoStream || !m_video) {
            return false;
        }
        const auto ticks = static_cast<std::uint64_t>(m_settings.frameDuration);
        const std::uint64_t g = std::gcd(static_cast<std::uint64_t>(kTicksPerSecond), ticks);
        AVCodecContext* c = m_video.get();
        c->width = m_settings.width;
        c->height = m_settings.height;
        c->time_base =
            AVRational{static_cast<int>(ticks / g), static_cast<int>(kTicksPerSecond / g)};
        c->framerate = AVRational{c->time_base.den, c->time_base.num};
        c->pix_fmt = m_container.pixelFormat;
        if (m_settings.pixelAspect != 1.0) {
            c->sample_aspect_ratio = av_d2q(m_settings.pixelAspect, 10'000);
            m_videoStream->sample_aspect_ratio = c->sample_aspect_ratio;
        }
        c->gop_size = 250;
        c->thread_count = 0;
        // Pictures are computer-made: tag them as the HD standard so players show true colours.
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
        c->colorspace = AVCOL_SPC_BT709;
        c->color_range = AVCOL_RANGE_MPEG;
        if (c->pix_fmt == AV_PIX_FMT_YUV420P) {
            // Each chroma sample is the mean of its 2 x 2 block.
            c->chroma_sample_location = AVCHROMA_LOC_CENTER;
        }
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* options = nullptr;
        const std::string crf = std::to_string(m_settings.quality);
        if (m_container.videoCodec == AV_CODEC_ID_H264 ||
            m_container.videoCodec == AV_CODEC_ID_VP9) {
            av_dict_set(&options, "crf", crf.c_str(), 0);
        } else if (m_container.videoCodec == AV_CODEC_ID_PRORES) {
            av_dict_set(&options, "profile", "2", 0);  // standard quality
        }
        if (m_container.videoCodec == AV_CODEC_ID_H264) {
            av_dict_set(&options, "preset", m_settings.speed.c_str(), 0);
        } else if (m_container.videoCodec == AV_CODEC_ID_VP9) {
            av_dict_set(&options, "b", "0", 0);  // constant quality
            av_dict_set(&options, "deadline", "realtime", 0);
            av_dict_set(&options, "cpu-used", "8", 0);
            av_dict_set(&options, "row-mt", "1", 0);
        }
        const int opened = avcodec_open2(c, codec, &options);
        av_dict_free(&options);
        if (opened < 0 || avcodec_parameters_from_context(m_videoStream->codecpar, c) < 0) {
            return false;
        }
        m_videoStream->time_base = c->time_base;
        m_videoStream->avg_frame_rate = c->framerate;

        const bool pooled = makePool(m_videoFrames, [c](AVFrame* f) {
            f->format = c->pix_fmt;
            f->width = c->width;
            f->height = c->height;
            return true;
        });
        if (!pooled) {
            return false;
        }
        m_packet.reset(av_packet_alloc());
        if (c->pix_fmt == AV_PIX_FMT_YUV420P) {
            return m_packet != nullptr;  // converted by our own code
        }
        m_scaler.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_BGRA, c->width, c->height,
                                      c->pix_fmt, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
                                      nullptr));
        if (!m_scaler) {
            return false;
        }
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(m_scaler.get(), coefficients, 1, coefficients, 0, 0, 1 << 16,
                                 1 << 16);
        return m_packet != nullptr;
    }

    bool openAudio(const AudioFormatDesc& sound) {
        const AVCodec* codec = avcodec_find_encoder_by_name(m_container.audioEncoder);
        if (!codec) {
            codec = avcodec_find_encoder(m_container.audioCodec);
        }
        if (!codec) {
            return false;
        }
        m_audioStream = avformat_new_stream(m_format, nullptr);
        m_audio.reset(avcodec_alloc_context3(codec));
        if (!m_audioStream || !m_audio) {
            return false;
        }
        AVCodecContext* c = m_audio.get();
        c->sample_rate = static_cast<int>(sound.samplesPerSecond);
        av_channel_layout_default(&c->ch_layout, static_cast<int>(sound.channels));
        c->bit_rate = static_cast<std::int64_t>(m_settings.audioBitrate) * 1000;
        c->time_base = AVRational{1, c->sample_rate};
        c->sample_fmt = AV_SAMPLE_FMT_FLTP;
        if (m_container.audioCodec == AV_CODEC_ID_OPUS ||
            m_container.audioCodec == AV_CODEC_ID_PCM_S16LE) {
            c->sample_fmt = AV_SAMPLE_FMT_S16;
        }
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (avcodec_open2(c, codec, nullptr) < 0 ||
            avcodec_parameters_from_context(m_audioStream->codecpar, c) < 0) {
            return false;
        }
        m_audioStream->time_base = c->time_base;
        m_audioFrameSize = c->frame_size > 0 ? c->frame_size : 1024;
        const int samples = m_audioFrameSize;
        return makePool(m_audioFrames, [c, samples](AVFrame* f) {
            f->format = c->sample_fmt;
            f->nb_samples = samples;
            f->sample_rate = c->sample_rate;
            return av_channel_layout_copy(&f->ch_layout, &c->ch_layout) >= 0;
        });
    }

    // Frames to fill in turn: one more than can wait for the encoder, so that the one being
    // filled is free again. `describe` sets each one's format and size (false: it cannot).
    template <typename Describe>
    static bool makePool(std::vector<Frame>& pool, Describe describe) {
        pool.resize(kFramesQueued + 1);
        for (Frame& f : pool) {
            f.reset(av_frame_alloc());
            if (!f || !describe(f.get()) || av_frame_get_buffer(f.get(), 0) < 0) {
                return false;
            }
        }
        return true;
    }

    // Hands a new reference to the frame's pictures or samples to the encoder's thread.
    bool queue(const AVFrame* frame, int stream) {
        Frame reference(av_frame_clone(frame));
        return reference && m_encoder->push(std::move(reference), stream);
    }

    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
        if (avcodec_send_frame(codec, frame) < 0) {
            return false;
        }
        for (;;) {
            const int got = avcodec_receive_packet(codec, m_packet.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
                return true;
            }
            if (got < 0) {
                return false;
            }
            av_packet_rescale_ts(m_packet.get(), codec->time_base, stream->time_base);
            m_packet->stream_index = stream->index;
            if (const int written = av_interleaved_write_frame(m_format, m_packet.get());
                written < 0) {
                m_writeError = written;
                return false;
            }
        }
    }

    static constexpr int kVideo = 0;
    static constexpr int kAudio = 1;
    // Enough for the encoder to have the next picture at hand whenever it is ready for it.
    static constexpr int kFramesQueued = 2;

    const Container& m_container;
    exporters::VideoSettings m_settings;
    std::string m_path;
    // Written by the encoder thread, read after it has stopped.
    std::atomic<int> m_writeError{0};
    AVFormatContext* m_format = nullptr;
    bool m_fileOpened = false;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    CodecContext m_video;
    CodecContext m_audio;
    std::vector<Frame> m_videoFrames;
    std::vector<Frame> m_audioFrames;
    std::size_t m_audioWritten = 0;
    Packet m_packet;
    std::unique_ptr<SwsContext, SwsDeleter> m_scaler;  // formats other than 4:2:0
    I420Converter m_converter{YuvMatrix::Bt709};       // the matrix the file is tagged with
    int m_audioFrameSize = 1024;
    std::int64_t m_audioSamples = 0;
    std::unique_ptr<EncoderThread> m_encoder;  // last: stopped before the encoders go
};

class Exporter final : public ExporterInterface {
public:
    explicit Exporter(const Container& c) : m_container(c) {}
    virtual ~Exporter() = default;
    void release() override { delete this; }
    const char* presetName() override { return m_container.presetName; }
    std::int32_t capabilities() override { return 0; }
    std::int32_t loadSettings(StoreKey* key) override { return key && m_settings.load(*key); }
    std::int32_t saveSettings(StoreKey* key) override { return key && m_settings.save(*key); }
    std::int32_t createConfigurationPages(PageSite*) override { return 0; }
    void configurationSummary(TextObject* summary) override {
        const double fps =
            static_cast<double>(kTicksPerSecond) / static_cast<double>(m_settings.frameDuration);
        char text[256];
        std::snprintf(text, sizeof text, "%d x %d, %.3g frames per second, quality %d%s",
                      m_settings.width, m_settings.height, fps, m_settings.quality,
                      carriesSound() ? ", with sound" : ", no sound");
        summary->set(text);
    }
    std::int32_t outputAudioFormat(AudioFormatDesc* format) override {
        if (!carriesSound()) {
            *format = AudioFormatDesc{};
            return 1;
        }
        *format = soundFormat();
        return 1;
    }
    std::int32_t adjustFileName(TextObject*) override { return 0; }

    std::int32_t run(ExportSource* source, const char* outputPath) override {
        if (!source || !outputPath || !*outputPath) {
            return 0;  // a file exporter needs a file
        }
        m_settings.normalize();
        TickTime duration = 0;
        source->duration(&duration);
        AudioFormatDesc projectSound;
        const bool withSound = carriesSound() && source->audioFormat(&projectSound) != 0 &&
                               projectSound.formatTag == 1;
        const AudioFormatDesc sound = soundFormat();

        Writer writer(m_container, m_settings);
        if (!writer.open(outputPath, withSound ? &sound : nullptr)) {
            reportWriteError(writer, outputPath);
            return 0;
        }
        Held<VideoFrame> frame(
            VideoFrame::create(kBgra32, m_settings.width, m_settings.height, kWholeFrame, 0.0f));
        Held<AudioBuffer> samples(
            withSound
                ? AudioBuffer::create(static_cast<std::uint32_t>(writer.audioFrameSize()), sound, 0)
                : nullptr);
        if (!frame.object || !frame->valid || (withSound && (!samples.object || !samples->valid))) {
            return 0;
        }
        const TickTime step = m_settings.frameDuration;
        const std::int64_t frames = std::max<std::int64_t>(1, (duration + step - 1) / step);
        for (std::int64_t i = 0; i < frames; ++i) {
            frame->setTime(i * step);
            // A refused frame means the user cancelled or rendering failed: the file goes.
            if (!source->videoFrame(frame.object) || !writer.writeVideo(frame->image, i) ||
                (withSound &&
                 !writeSoundUntil(*source, writer, *samples.object, (i + 1) * step, duration))) {
                reportWriteError(writer, outputPath);
                return 0;
            }
        }
        if (!writer.finish()) {
            reportWriteError(writer, outputPath);
            return 0;
        }
        return 1;
    }

private:
    // Tells the user why the file could not be written (a full disk, a lost connection).
    static void reportWriteError(const Writer& writer, const char* path) {
        if (writer.writeError() == 0 || g_host == nullptr) {
            return;
        }
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(writer.writeError(), reason, sizeof reason);
        exporters::reportWriteFailure(g_host, path, reason);
    }

    bool carriesSound() const { return m_settings.audio && m_container.audioEncoder != nullptr; }

    AudioFormatDesc soundFormat() const {
        AudioFormatDesc f;
        f.formatTag = 1;
        f.channels = static_cast<std::uint32_t>(m_settings.channels);
        f.samplesPerSecond = static_cast<std::uint32_t>(m_settings.sampleRate);
        f.bitsPerSample = 16;
        f.bytesPerFrame = f.channels * 2;
        return f;
    }

    // Encodes whole sound frames up to `until` (and the rest at the very end).
    bool writeSoundUntil(ExportSource& source, Writer& writer, AudioBuffer& buffer, TickTime until,
                         TickTime duration) {
        const std::int64_t rate = m_settings.sampleRate;
        const std::int64_t total = duration * rate / kTicksPerSecond;
        const std::int64_t target = std::min(until * rate / kTicksPerSecond, total);
        const bool last = until >= duration;
        const int size = writer.audioFrameSize();
        while (writer.audioSamplesWritten() + size <= target ||
               (last && writer.audioSamplesWritten() < total)) {
            buffer.setPosition(writer.audioSamplesWritten());
            if (!source.audio(&buffer)) {
                return false;
            }
            const std::int64_t left = total - writer.audioSamplesWritten();
            const int count = static_cast<int>(std::min<std::int64_t>(size, left));
            if (!writer.writeAudio(reinterpret_cast<const std::int16_t*>(buffer.data), count)) {
                return false;
            }
        }
        return true;
    }

    const Container& m_container;
    exporters::VideoSettings m_settings;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) PLGFileInfo PLGFileInfo = {
    "62365CE1-B3A5-4c37-9F63-966833BFA4F9", {0, 0, 0, 0, 0}, 1, 0x46464D50 /* 'PMFF' */};

__attribute__((visibility("default"))) PlugInModuleInterface* PLGInit(HostServices* host) {
    g_host = host;
    av_log_set_level(AV_LOG_ERROR);
    return new (std::nothrow) exporters::EntryModule<Container, Exporter>(kContainers);
}
}
