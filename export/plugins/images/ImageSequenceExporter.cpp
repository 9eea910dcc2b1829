// The exporter module that writes frames as pictures: a numbered PNG or JPEG sequence, or raw
// BGRA frames one after another (to a file, or to standard output for "-" so that other tools can
// read them through a pipe).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "export/PluginApi.h"
#include "export/plugins/EntryModule.h"
#include "export/plugins/ExporterSettings.h"
#include "export/plugins/PartialFile.h"

using namespace pm;
using namespace pm::plugin;

namespace {

// The program's services, for telling the user why a run failed.
HostServices* g_host = nullptr;

enum class Kind { Png, Jpeg, Raw };

struct Format {
    const char* identifier;
    const char* displayName;
    const char* pattern;
    const char* presetName;
    Kind kind;
};

const Format kFormats[] = {
    {"pictomove.images.png", "PNG Image Sequence", "*.png", "PNG Sequence", Kind::Png},
    {"pictomove.images.jpg", "JPEG Image Sequence", "*.jpg;*.jpeg", "JPEG Sequence", Kind::Jpeg},
    {"pictomove.images.raw", "Raw Video Frames (BGRA)", "*.raw", "Raw Frames", Kind::Raw},
};

constexpr AudioFormatDesc kWavFormat{24, 1, 2, 48000, 4, 16};

// "name.png" becomes "name_00000.png", "name_00001.png", ...; a name that already holds a
// printf-style number ("shot%04d.png") is used as it is.
std::string numberedName(const std::string& path, std::int64_t index) {
    char number[32];
    if (path.find('%') != std::string::npos) {
        const std::size_t at = path.find('%');
        std::size_t end = at + 1;
        while (end < path.size() && path[end] >= '0' && path[end] <= '9') {
            ++end;
        }
        if (end < path.size() && path[end] == 'd') {
            int width = std::atoi(path.substr(at + 1, end - at - 1).c_str());
            width = std::min(width, 12);
            std::snprintf(number, sizeof number, "%0*lld", width, static_cast<long long>(index));
            return path.substr(0, at) + number + path.substr(end + 1);
        }
    }
    std::snprintf(number, sizeof number, "_%05lld", static_cast<long long>(index));
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path + number;
    }
    return path.substr(0, dot) + number + path.substr(dot);
}

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// Encodes single pictures with one of FFmpeg's still-picture encoders.
class PictureEncoder {
public:
    bool open(Kind kind, int width, int height, int quality) {
        const AVCodecID id = kind == Kind::Png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
        const AVCodec* codec = avcodec_find_encoder(id);
        if (!codec) {
            return false;
        }
        m_codec.reset(avcodec_alloc_context3(codec));
        if (!m_codec) {
            return false;
        }
        AVCodecContext* c = m_codec.get();
        c->width = width;
        c->height = height;
        c->time_base = AVRational{1, 25};
        c->pix_fmt = kind == Kind::Png ? AV_PIX_FMT_RGBA : AV_PIX_FMT_YUVJ444P;
        if (kind == Kind::Jpeg) {
            // Quality 0 (best) to 63 maps onto the encoder's scale 1 to 31.
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * std::clamp(1 + quality / 2, 1, 31);
        }
        if (avcodec_open2(c, codec, nullptr) < 0) {
            return false;
        }
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_frame || !m_packet) {
            return false;
        }
        m_frame->format = c->pix_fmt;
        m_frame->width = width;
        m_frame->height = height;
        if (av_frame_get_buffer(m_frame.get(), 0) < 0) {
            return false;
        }
        m_scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, c->pix_fmt,
                                      SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        return m_scaler != nullptr;
    }

    bool write(const FrameImage& image, const std::string& path) {
        const std::uint8_t* source[1] = {image.pixels};
        const int stride[1] = {image.pitch};
        if (av_frame_make_writable(m_frame.get()) < 0) {
            return false;
        }
        sws_scale(m_scaler.get(), source, stride, 0, image.height, m_frame->data,
                  m_frame->linesize);
        m_frame->pts = m_count++;
        if (avcodec_send_frame(m_codec.get(), m_frame.get()) < 0 ||
            avcodec_receive_packet(m_codec.get(), m_packet.get()) < 0) {
            return false;
        }
        FILE* file = std::fopen(path.c_str(), "wb");
        bool ok = file != nullptr;
        if (file) {
            ok = std::fwrite(m_packet->data, 1, static_cast<std::size_t>(m_packet->size), file) ==
                 static_cast<std::size_t>(m_packet->size);
            ok = std::fclose(file) == 0 && ok;
        }
        av_packet_unref(m_packet.get());
        return ok;
    }

private:
    std::unique_ptr<AVCodecContext, CodecContextDeleter> m_codec;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    std::unique_ptr<SwsContext, SwsDeleter> m_scaler;
    std::int64_t m_count = 0;
};

class Exporter final : public ExporterInterface {
public:
    explicit Exporter(const Format& f) : m_format(f) { m_settings.audio = false; }
    virtual ~Exporter() = default;
    void release() override { delete this; }
    const char* presetName() override { return m_format.presetName; }
    std::int32_t capabilities() override { return 0; }
    std::int32_t loadSettings(StoreKey* key) override {
        const bool ok = key && m_settings.load(*key);
        m_settings.audio = false;  // pictures carry no sound
        return ok;
    }
    std::int32_t saveSettings(StoreKey* key) override { return key && m_settings.save(*key); }
    std::int32_t createConfigurationPages(PageSite*) override { return 0; }
    void configurationSummary(TextObject* summary) override {
        const double fps =
            static_cast<double>(kTicksPerSecond) / static_cast<double>(m_settings.frameDuration);
        char text[256];
        std::snprintf(text, sizeof text, "%d x %d, %.3g frames per second%s", m_settings.width,
                      m_settings.height, fps,
                      m_format.kind == Kind::Raw ? ", 32-bit BGRA, top row first" : "");
        summary->set(text);
    }
    // Picture sequences come with a WAV of the sound; raw frames carry none.
    std::int32_t outputAudioFormat(AudioFormatDesc* format) override {
        *format = m_format.kind == Kind::Raw ? AudioFormatDesc{} : kWavFormat;
        return 1;
    }
    std::int32_t adjustFileName(TextObject*) override { return 0; }

    std::int32_t run(ExportSource* source, const char* outputPath) override {
        if (!source || !outputPath || !*outputPath) {
            return 0;
        }
        m_settings.normalize();
        const int width = m_settings.width;
        const int height = m_settings.height;
        TickTime duration = 0;
        source->duration(&duration);
        const TickTime step = m_settings.frameDuration;
        const std::int64_t frames = std::max<std::int64_t>(1, (duration + step - 1) / step);

        VideoFrame* frame = VideoFrame::create(kBgra32, width, height, kWholeFrame, 0.0f);
        if (!frame) {
            return 0;
        }
        struct Release {
            VideoFrame* f;
            ~Release() { f->release(); }
        } release{frame};
        if (!frame->valid) {
            return 0;
        }

        if (m_format.kind == Kind::Raw) {
            return writeRaw(*source, *frame, outputPath, frames, step);
        }
        PictureEncoder encoder;
        if (!encoder.open(m_format.kind, width, height, m_settings.quality)) {
            return 0;
        }
        std::vector<std::string> written;
        for (std::int64_t i = 0; i < frames; ++i) {
            frame->setTime(i * step);
            const std::string name = numberedName(outputPath, i);
            if (!source->videoFrame(frame) || !encoder.write(frame->image, name)) {
                // Nothing half done is left behind.
                for (const std::string& done : written) {
                    std::remove(done.c_str());
                }
                std::remove(name.c_str());
                return 0;
            }
            written.push_back(name);
        }
        AudioFormatDesc projectSound;
        if (source->audioFormat(&projectSound) == 1 && projectSound.formatTag == 1) {
            const std::string wav = soundName(outputPath);
            if (!writeWav(*source, wav, duration)) {
                std::remove(wav.c_str());
                for (const std::string& done : written) {
                    std::remove(done.c_str());
                }
                return 0;
            }
        }
        return 1;
    }

private:
    // "show%03d.png" and "show.png" both give "show.wav".
    static std::string soundName(const std::string& path) {
        std::string base = path;
        const std::size_t slash = base.find_last_of('/');
        const std::size_t dot = base.find_last_of('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
            base.erase(dot);
        }
        if (const std::size_t percent = base.find('%');
            percent != std::string::npos && (slash == std::string::npos || percent > slash)) {
            base.erase(percent);
        }
        return base + ".wav";
    }

    // The project's sound for the exported time as a 16-bit stereo 48 kHz WAV file.
    static bool writeWav(ExportSource& source, const std::string& path, TickTime duration) {
        FILE* out = std::fopen(path.c_str(), "wb");
        if (!out) {
            return false;
        }
        const std::uint32_t rate = kWavFormat.samplesPerSecond;
        const std::uint32_t block = kWavFormat.bytesPerFrame;
        const auto total = static_cast<std::uint64_t>(duration) * rate /
                           static_cast<std::uint64_t>(kTicksPerSecond);
        const std::uint64_t bytes = total * block;
        if (bytes > 0xFFFFFFF0u) {
            std::fclose(out);
            return false;
        }
        const auto le32 = [&](std::uint32_t v) {
            const unsigned char b[4] = {
                static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
            std::fwrite(b, 1, 4, out);
        };
        const auto le16 = [&](std::uint16_t v) {
            const unsigned char b[2] = {static_cast<unsigned char>(v),
                                        static_cast<unsigned char>(v >> 8)};
            std::fwrite(b, 1, 2, out);
        };
        std::fwrite("RIFF", 1, 4, out);
        le32(static_cast<std::uint32_t>(36 + bytes));
        std::fwrite("WAVEfmt ", 1, 8, out);
        le32(16);
        le16(1);
        le16(static_cast<std::uint16_t>(kWavFormat.channels));
        le32(rate);
        le32(rate * block);
        le16(static_cast<std::uint16_t>(block));
        le16(16);
        std::fwrite("data", 1, 4, out);
        le32(static_cast<std::uint32_t>(bytes));
        constexpr std::uint32_t kChunk = 8192;
        AudioBuffer* buffer = AudioBuffer::create(kChunk, kWavFormat, 0);
        bool ok = buffer && buffer->valid;
        for (std::uint64_t done = 0; ok && done < total;) {
            const auto count =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, total - done));
            buffer->setPosition(static_cast<std::int64_t>(done));
            ok = source.audio(buffer) != 0 && std::fwrite(buffer->data, block, count, out) == count;
            done += count;
        }
        if (buffer) {
            buffer->release();
        }
        return std::fclose(out) == 0 && ok;
    }

    std::int32_t writeRaw(ExportSource& source, VideoFrame& frame, const char* outputPath,
                          std::int64_t frames, TickTime step) {
        const bool toStdout = std::strcmp(outputPath, "-") == 0;
        FILE* out = toStdout ? stdout : std::fopen(outputPath, "wb");
        if (!out) {
            return 0;
        }
        const FrameImage& image = frame.image;
        const auto rowBytes = static_cast<std::size_t>(image.width) * 4;
        bool ok = true;
        // The first write that failed says why.
        int error = 0;
        const auto put = [&](const void* data, std::size_t size) {
            if (std::fwrite(data, 1, size, out) != size) {
                error = errno;
                return false;
            }
            return true;
        };
        for (std::int64_t i = 0; ok && i < frames; ++i) {
            frame.setTime(i * step);
            ok = source.videoFrame(&frame) != 0;
            if (ok && image.pitch > 0 && static_cast<std::size_t>(image.pitch) == rowBytes) {
                // Rows without padding go out in one piece: no copying through the stream's buffer.
                ok = put(image.pixels, rowBytes * static_cast<std::size_t>(image.height));
                continue;
            }
            for (int y = 0; ok && y < image.height; ++y) {
                ok = put(image.pixels + static_cast<std::ptrdiff_t>(y) * image.pitch, rowBytes);
            }
        }
        if (toStdout) {
            if (std::fflush(out) != 0 && error == 0) {
                error = errno;
                ok = false;
            }
        } else {
            if (std::fclose(out) != 0 && error == 0) {
                error = errno;
                ok = false;
            }
            if (!ok) {
                exporters::removePartialFile(outputPath);
            }
        }
        if (!ok && error != 0) {
            exporters::reportWriteFailure(g_host, toStdout ? "standard output" : outputPath,
                                          std::strerror(error));
        }
        return ok ? 1 : 0;
    }

    const Format& m_format;
    exporters::VideoSettings m_settings;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) PLGFileInfo PLGFileInfo = {
    "62365CE1-B3A5-4c37-9F63-966833BFA4F9", {0, 0, 0, 0, 0}, 1, 0x47414D49 /* 'IMAG' */};

__attribute__((visibility("default"))) PlugInModuleInterface* PLGInit(HostServices* host) {
    g_host = host;
    av_log_set_level(AV_LOG_ERROR);
    return new (std::nothrow) exporters::EntryModule<Format, Exporter>(kFormats);
}
}
