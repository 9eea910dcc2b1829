// Decoding and converting a project's sound for an exporter: a five-minute 44.1 kHz stereo MP3
// to 48 kHz 16-bit stereo, as a multiple of real time, beside the ffmpeg tool decoding the same
// file to nowhere in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio/AudioDecoder.h"
#include "audio/SoundTrack.h"

namespace {

constexpr double kSeconds = 300.0;

// The test sound, made once per run with the ffmpeg tool and removed at exit.
class Fixture {
public:
    Fixture() {
        std::random_device rd;
        m_folder = std::filesystem::temp_directory_path() /
                   ("pictomove-bench-audio-" + std::to_string(rd()));
        std::filesystem::create_directories(m_folder);
        m_mp3 = (m_folder / "five-minutes.mp3").string();
        const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
            "\"aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*1234*t)|0.3*sin(2*PI*554*t)+0.1*random(0):"
            "s=44100:d=300\" -c:a libmp3lame -b:a 192k \"" +
            m_mp3 + "\" </dev/null";
        m_ok = std::system(command.c_str()) == 0;
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    bool ok() const { return m_ok; }
    const std::string& mp3() const { return m_mp3; }

private:
    std::filesystem::path m_folder;
    std::string m_mp3;
    bool m_ok = false;
};

const Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_SoundTrackMp3To48k16Stereo(benchmark::State& state) {
    if (!fixture().ok()) {
        state.SkipWithError("ffmpeg could not make the test sound");
        return;
    }
    const std::size_t block = 4800;
    std::vector<std::int16_t> out(block * 2);
    for (auto _ : state) {
        pm::SoundTrack track;
        if (!track.open(fixture().mp3()).ok()) {
            state.SkipWithError("could not open the test sound");
            return;
        }
        const auto total = static_cast<std::int64_t>(track.duration() * 48000.0);
        for (std::int64_t p = 0; p < total; p += static_cast<std::int64_t>(block)) {
            track.readSamples({{48000, 2, 16}, block, out.data(), p}, true);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeOnlyMp3(benchmark::State& state) {
    if (!fixture().ok()) {
        state.SkipWithError("ffmpeg could not make the test sound");
        return;
    }
    std::vector<std::int16_t> out(4096 * 2);
    for (auto _ : state) {
        pm::AudioDecoder decoder;
        decoder.open(fixture().mp3());
        while (decoder.read(out.data(), 4096) == 4096) {
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FfmpegToolNullOutput(benchmark::State& state) {
    if (!fixture().ok()) {
        state.SkipWithError("ffmpeg could not make the test sound");
        return;
    }
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i \"" +
                                fixture().mp3() + "\" -f null - </dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_SoundTrackMp3To48k16Stereo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_DecodeOnlyMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegToolNullOutput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
