#include "audio/AudioDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace pm {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNotASound = "it is not a sound or video file that can be decoded";
constexpr const char* kNoSoundInIt = "it holds no sound that can be played";

// What keeps a file from being opened at all, in the user's words; empty when it can be tried.
std::string fileProblem(const std::string& path) {
    if (path.empty()) {
        return "no file is named";
    }
    if (path.size() > kMaxSoundFileName) {
        return soundNameTooLong();
    }
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        return "no such file";
    }
    if (std::filesystem::is_directory(status)) {
        return "it is a folder";
    }
    return {};
}

// Any single open, read or seek that takes longer than this is abandoned: a damaged or hostile
// file must not hang the program.
constexpr auto kOperationTimeout = std::chrono::seconds(15);
// Packets of the sound stream in a row that decode to nothing (errors, or no output) before the
// stream counts as ended; a healthy decoder needs a handful at most.
constexpr int kMaxFruitlessPackets = 256;
constexpr int kAvioBufferSize = 64 * 1024;
// Decoding restarts this far before a seek target so that the decoder's state (overlap, bit
// reservoir, filter memory) is the same as when decoding from the start.
constexpr double kSeekPrerollSeconds = 0.5;
// Forward seeks shorter than this decode through instead of seeking.
constexpr double kSkipThroughSeconds = 2.0;

struct MemorySource {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::int64_t position = 0;
};

int readMemory(void* opaque, std::uint8_t* buffer, int size) {
    auto* src = static_cast<MemorySource*>(opaque);
    const auto total = static_cast<std::int64_t>(src->bytes->size());
    const std::int64_t n = std::min<std::int64_t>(size, total - src->position);
    if (n <= 0) {
        return AVERROR_EOF;
    }
    std::memcpy(buffer, src->bytes->data() + src->position, static_cast<std::size_t>(n));
    src->position += n;
    return static_cast<int>(n);
}

std::int64_t seekMemory(void* opaque, std::int64_t offset, int whence) {
    auto* src = static_cast<MemorySource*>(opaque);
    const auto total = static_cast<std::int64_t>(src->bytes->size());
    std::int64_t target;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return total;
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = src->position + offset;
            break;
        case SEEK_END:
            target = total + offset;
            break;
        default:
            return -1;
    }
    if (target < 0 || target > total) {
        return -1;
    }
    src->position = target;
    return target;
}

int interruptCallback(void* opaque) {
    return Clock::now() > *static_cast<Clock::time_point*>(opaque) ? 1 : 0;
}

// The PCM width closest to what the stream carries.
int nativeBits(AVSampleFormat format, const AVCodecParameters& par) {
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return 8;
        case AV_SAMPLE_FMT_S16:
            return 16;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S64:
            return 32;
        default: {
            // Floating point: lossless and PCM codecs tell their width; lossy ones do not and
            // are delivered at 16 bits.
            const int raw =
                par.bits_per_raw_sample > 0 ? par.bits_per_raw_sample : par.bits_per_coded_sample;
            if (raw > 16) {
                return 32;
            }
            if (raw > 0 && raw <= 8) {
                return 8;
            }
            return 16;
        }
    }
}

// Codecs whose decoder state after a short pre-roll no longer depends on where decoding began.
// Others (AAC's noise substitution, for one, draws from a generator running since the start)
// reach a seek target exactly only by decoding up to it.
bool settlesAfterPreroll(AVCodecID id) {
    if (id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT) {
        return true;  // the PCM family
    }
    switch (id) {
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_FLAC:
        case AV_CODEC_ID_ALAC:
            return true;
        default:
            return false;
    }
}

AVSampleFormat packedFormat(int bits) {
    return bits == 8 ? AV_SAMPLE_FMT_U8 : bits == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
}

}  // namespace

struct AudioDecoder::Impl {
    // Source.
    std::string path;  // also the name used in messages
    std::shared_ptr<const std::vector<std::uint8_t>> memory;
    MemorySource memorySource;

    // FFmpeg objects.
    AVFormatContext* fmt = nullptr;
    AVIOContext* avio = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    // The last start failed only because the file holds no sound stream.
    bool withoutSound = false;
    AVRational timeBase{1, 1};
    Clock::time_point deadline;

    // Stream facts.
    AudioFormat format;
    AVChannelLayout layout{};
    double duration = 0.0;
    std::int64_t firstPts = AV_NOPTS_VALUE;
    bool open = false;
    bool prerollSeek = false;

    // Decoding state.
    bool flushing = false;
    bool ended = false;
    std::vector<std::uint8_t> pending;  // decoded frames not yet delivered
    std::size_t pendingRead = 0;        // bytes of `pending` already delivered
    std::int64_t pendingStart = 0;      // frame index of pending[0]
    std::int64_t position = 0;
    std::int64_t decodedEnd = 0;  // frame index after the last decoded frame
    // Set after a seek until a frame with a timestamp has told where decoding stands.
    bool positionUnknown = false;

    // Swresample's input side as last configured.
    int swrInFormat = -1;
    int swrInRate = 0;
    AVChannelLayout swrInLayout{};

    ~Impl() { release(); }

    void arm() { deadline = Clock::now() + kOperationTimeout; }

    void release() {
        if (codec) {
            avcodec_free_context(&codec);
        }
        if (fmt) {
            avformat_close_input(&fmt);
        }
        if (avio) {
            av_freep(&avio->buffer);
            avio_context_free(&avio);
        }
        swr_free(&swr);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_channel_layout_uninit(&layout);
        av_channel_layout_uninit(&swrInLayout);
        swrInFormat = -1;
        stream = -1;
        open = false;
    }

    // Opens the container and the decoder and decodes the first frame; the stream then stands at
    // frame 0. Returns false on any failure.
    bool start() {
        release();
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        fmt = avformat_alloc_context();
        if (!packet || !frame || !fmt) {
            return false;
        }
        fmt->interrupt_callback.callback = interruptCallback;
        fmt->interrupt_callback.opaque = &deadline;
        if (memory) {
            memorySource = {memory, 0};
            auto* buffer = static_cast<std::uint8_t*>(av_malloc(kAvioBufferSize));
            if (!buffer) {
                return false;
            }
            avio = avio_alloc_context(buffer, kAvioBufferSize, 0, &memorySource, readMemory,
                                      nullptr, seekMemory);
            if (!avio) {
                av_free(buffer);
                return false;
            }
            fmt->pb = avio;
            fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
        arm();
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
            // avformat_open_input frees the context on failure.
            return false;
        }
        arm();
        if (avformat_find_stream_info(fmt, nullptr) < 0) {
            return false;
        }
        const AVCodec* decoder = nullptr;
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (stream < 0 || !decoder) {
            // A file the demuxer reads, but without a sound it can decode: a silent video.
            withoutSound = true;
            return false;
        }
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            if (static_cast<int>(i) != stream) {
                fmt->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        AVStream* st = fmt->streams[stream];
        timeBase = st->time_base;
        codec = avcodec_alloc_context3(decoder);
        if (!codec || avcodec_parameters_to_context(codec, st->codecpar) < 0) {
            return false;
        }
        codec->pkt_timebase = st->time_base;
        prerollSeek = settlesAfterPreroll(st->codecpar->codec_id);
        if (avcodec_open2(codec, decoder, nullptr) < 0) {
            return false;
        }
        flushing = false;
        ended = false;
        pending.clear();
        pendingRead = 0;
        pendingStart = 0;
        decodedEnd = 0;
        position = 0;
        positionUnknown = false;
        if (!receiveFrame()) {
            return false;
        }
        if (!open) {
            // First start: the stream's format comes from its first frame.
            const int channels = frame->ch_layout.nb_channels;
            format.rate = frame->sample_rate;
            format.channels = channels;
            format.bits = nativeBits(static_cast<AVSampleFormat>(frame->format), *st->codecpar);
            if (format.rate <= 0 || channels <= 0 || channels > 16) {
                return false;
            }
            av_channel_layout_uninit(&layout);
            if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0) {
                return false;
            }
        }
        firstPts = frame->best_effort_timestamp;
        open = true;
        return appendFrame(0);
    }

    // Reads packets and decodes until a frame of sound is in `frame`. False at the end of the
    // stream or when it is too damaged to go on.
    bool receiveFrame() {
        int fruitless = 0;
        while (true) {
            const int got = avcodec_receive_frame(codec, frame);
            if (got == 0) {
                if (frame->nb_samples > 0 && frame->sample_rate > 0 &&
                    (!open || frame->sample_rate == format.rate)) {
                    return true;
                }
                continue;  // a frame we cannot place in this stream: skip it
            }
            if (got == AVERROR_EOF || flushing) {
                ended = true;
                return false;
            }
            if (got != AVERROR(EAGAIN)) {
                ended = true;
                return false;
            }
            if (++fruitless > kMaxFruitlessPackets) {
                ended = true;
                return false;
            }
            arm();
            int read = av_read_frame(fmt, packet);
            while (read >= 0 && packet->stream_index != stream) {
                av_packet_unref(packet);
                arm();
                read = av_read_frame(fmt, packet);
            }
            if (read < 0) {
                // End of file, a read error or a timeout: drain what the decoder holds.
                flushing = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            const int sent = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                continue;  // a damaged packet: counted as fruitless, decoding goes on
            }
        }
    }

    bool configureResampler() {
        if (swr && swrInFormat == frame->format && swrInRate == frame->sample_rate &&
            av_channel_layout_compare(&swrInLayout, &frame->ch_layout) == 0) {
            return true;
        }
        swr_free(&swr);
        // Same rate in and out: only the sample format (and, should a damaged stream change its
        // channels, the layout) is converted.
        if (swr_alloc_set_opts2(&swr, &layout, packedFormat(format.bits), format.rate,
                                &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                frame->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return false;
        }
        swrInFormat = frame->format;
        swrInRate = frame->sample_rate;
        av_channel_layout_uninit(&swrInLayout);
        av_channel_layout_copy(&swrInLayout, &frame->ch_layout);
        return true;
    }

    // Appends the decoded frame to `pending`, whose frames start at `startFrame` when it is empty.
    bool appendFrame(std::int64_t startFrame) {
        if (!configureResampler()) {
            return false;
        }
        const int frameBytes = format.bytesPerFrame();
        if (pendingRead == pending.size()) {
            pending.clear();
            pendingRead = 0;
            pendingStart = startFrame;
        } else if (pendingRead > (1u << 20)) {
            pending.erase(pending.begin(),
                          pending.begin() + static_cast<std::ptrdiff_t>(pendingRead));
            pendingStart += static_cast<std::int64_t>(pendingRead) / frameBytes;
            pendingRead = 0;
        }
        const std::size_t old = pending.size();
        pending.resize(old + static_cast<std::size_t>(frame->nb_samples) * frameBytes);
        std::uint8_t* out = pending.data() + old;
        const int converted =
            swr_convert(swr, &out, frame->nb_samples,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        av_frame_unref(frame);
        if (converted < 0) {
            pending.resize(old);
            return false;
        }
        pending.resize(old + static_cast<std::size_t>(converted) * frameBytes);
        decodedEnd = pendingStart + static_cast<std::int64_t>(pending.size()) / frameBytes;
        return true;
    }

    // The frame index of the decoded frame, from its timestamp.
    std::int64_t frameIndexOf(std::int64_t pts) const {
        return av_rescale_q(pts - firstPts, timeBase, AVRational{1, format.rate});
    }

    // Decodes the next frame onto `pending`. After a seek the frame's timestamp places it.
    bool decodeMore() {
        if (ended || !receiveFrame()) {
            return false;
        }
        std::int64_t start = decodedEnd;
        if (positionUnknown) {
            const std::int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE || firstPts == AV_NOPTS_VALUE) {
                av_frame_unref(frame);
                return false;
            }
            start = frameIndexOf(pts);
            pending.clear();
            pendingRead = 0;
            positionUnknown = false;
        }
        return appendFrame(start);
    }

    std::size_t pendingFrames() const {
        return (pending.size() - pendingRead) / static_cast<std::size_t>(format.bytesPerFrame());
    }

    // Decodes forward, discarding, until `target` is the next frame to deliver.
    bool skipTo(std::int64_t target) {
        const int frameBytes = format.bytesPerFrame();
        while (true) {
            const std::int64_t availableStart =
                pendingStart + static_cast<std::int64_t>(pendingRead) / frameBytes;
            if (target < availableStart) {
                return false;  // already past it
            }
            if (target < decodedEnd) {
                pendingRead += static_cast<std::size_t>(target - availableStart) * frameBytes;
                position = target;
                return true;
            }
            pendingRead = pending.size();
            if (!decodeMore()) {
                // The stream ends before the target: reads from there give nothing.
                position = target;
                ended = true;
                return true;
            }
        }
    }

    bool restartAt(std::int64_t target) { return start() && skipTo(target); }

    bool seekTo(std::int64_t target) {
        if (target < 0) {
            return false;
        }
        if (target == position && !positionUnknown) {
            return true;
        }
        const auto preroll = static_cast<std::int64_t>(kSeekPrerollSeconds * format.rate);
        const auto through = static_cast<std::int64_t>(kSkipThroughSeconds * format.rate);
        if (target > position && !ended && (target - position <= through || !prerollSeek)) {
            return skipTo(target);
        }
        if (target <= preroll || firstPts == AV_NOPTS_VALUE || !prerollSeek) {
            return restartAt(target);
        }
        for (std::int64_t back = preroll; back <= 8 * preroll; back *= 2) {
            const std::int64_t from = std::max<std::int64_t>(0, target - back);
            const std::int64_t ts =
                firstPts + av_rescale_q(from, AVRational{1, format.rate}, timeBase);
            arm();
            if (av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD) < 0) {
                break;
            }
            avcodec_flush_buffers(codec);
            flushing = false;
            ended = false;
            pending.clear();
            pendingRead = 0;
            positionUnknown = true;
            if (!decodeMore()) {
                break;
            }
            // A seek that lands too late, or too close to the target for the decoder to have
            // settled, is retried from further back.
            if (pendingStart <= target - preroll / 2 || pendingStart == 0) {
                return skipTo(target);
            }
        }
        // The container cannot place us reliably: decode from the start.
        return restartAt(target);
    }

    std::size_t read(std::uint8_t* out, std::size_t frames) {
        const int frameBytes = format.bytesPerFrame();
        std::size_t done = 0;
        while (done < frames) {
            std::size_t available = pendingFrames();
            if (available == 0) {
                if (!decodeMore()) {
                    break;
                }
                continue;
            }
            const std::size_t n = std::min(available, frames - done);
            std::memcpy(out + done * frameBytes, pending.data() + pendingRead, n * frameBytes);
            pendingRead += n * frameBytes;
            done += n;
            position += static_cast<std::int64_t>(n);
        }
        return done;
    }

    double measureDuration() {
        AVStream* st = fmt->streams[stream];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            return static_cast<double>(st->duration) * av_q2d(timeBase);
        }
        if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0) {
            return static_cast<double>(fmt->duration) / AV_TIME_BASE;
        }
        // Neither says: add up the packets' durations, then start over.
        std::int64_t total = 0;
        while (true) {
            arm();
            if (av_read_frame(fmt, packet) < 0) {
                break;
            }
            if (packet->stream_index == stream && packet->duration > 0) {
                total += packet->duration;
            }
            av_packet_unref(packet);
        }
        const double seconds = static_cast<double>(total) * av_q2d(timeBase);
        return start() ? seconds : 0.0;
    }
};

AudioDecoder::AudioDecoder() : m_impl(std::make_unique<Impl>()) {
    // Damaged input is reported through our own status; the library's chatter is not wanted.
    av_log_set_level(AV_LOG_FATAL);
}
AudioDecoder::~AudioDecoder() = default;

AudioStatus AudioDecoder::open(const std::string& path) {
    close();
    m_impl->path = path;
    m_impl->memory.reset();
    if (const std::string problem = fileProblem(path); !problem.empty()) {
        close();
        return soundLoadFailed(path, problem);
    }
    m_impl->withoutSound = false;
    if (!m_impl->start()) {
        const bool silent = m_impl->withoutSound;
        close();
        return soundLoadFailed(path, silent ? kNoSoundInIt : kNotASound);
    }
    m_impl->duration = m_impl->measureDuration();
    if (!(m_impl->duration > 0.0) || !m_impl->open) {
        close();
        return soundLoadFailed(path, kNoSoundInIt);
    }
    return AudioStatus::success();
}

AudioStatus AudioDecoder::openMemory(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                     const std::string& name) {
    close();
    m_impl->path = name;
    m_impl->memory = std::move(bytes);
    if (!m_impl->memory || m_impl->memory->empty() || !m_impl->start()) {
        close();
        return soundLoadFailed(name);
    }
    m_impl->duration = m_impl->measureDuration();
    if (!(m_impl->duration > 0.0) || !m_impl->open) {
        close();
        return soundLoadFailed(name);
    }
    return AudioStatus::success();
}

void AudioDecoder::close() {
    m_impl->release();
    m_impl->format = {};
    m_impl->duration = 0.0;
    m_impl->firstPts = AV_NOPTS_VALUE;
    m_impl->pending.clear();
    m_impl->pendingRead = 0;
    m_impl->position = 0;
}

bool AudioDecoder::isOpen() const {
    return m_impl->open;
}
AudioFormat AudioDecoder::format() const {
    return m_impl->format;
}
double AudioDecoder::duration() const {
    return m_impl->duration;
}
std::int64_t AudioDecoder::position() const {
    return m_impl->position;
}

bool AudioDecoder::seek(std::int64_t frame) {
    if (!m_impl->open) {
        return false;
    }
    return m_impl->seekTo(frame);
}

std::size_t AudioDecoder::read(void* destination, std::size_t frames) {
    if (!m_impl->open) {
        return 0;
    }
    return m_impl->read(static_cast<std::uint8_t*>(destination), frames);
}

}  // namespace pm
