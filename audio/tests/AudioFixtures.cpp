#include "AudioFixtures.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>

namespace pm::test {

TempFolder::TempFolder() {
    std::random_device rd;
    m_path = std::filesystem::temp_directory_path() /
             ("pictomove-audio-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

void writeWav(const std::string& path, const AudioFormat& format,
              const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out;
    const auto size = static_cast<std::uint32_t>(data.size());
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 36 + size);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<std::uint16_t>(format.channels));
    put32(out, static_cast<std::uint32_t>(format.rate));
    put32(out, static_cast<std::uint32_t>(format.bytesPerSecond()));
    put16(out, static_cast<std::uint16_t>(format.bytesPerFrame()));
    put16(out, static_cast<std::uint16_t>(format.bits));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, size);
    out.insert(out.end(), data.begin(), data.end());
    writeBytes(path, out);
}

std::vector<std::uint8_t> makeSignal(const AudioFormat& format, std::size_t frames) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    const int bytes = format.bits / 8;
    std::vector<std::uint8_t> out(frames * static_cast<std::size_t>(format.bytesPerFrame()));
    std::uint8_t* p = out.data();
    for (std::size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < format.channels; ++c) {
            const double t = static_cast<double>(f) / format.rate;
            const double v = 0.4 * std::sin(2 * std::numbers::pi * (330.0 + 110.0 * c) * t) +
                             0.2 * std::sin(2 * std::numbers::pi * 1250.0 * t) + noise(rng);
            if (bytes == 1) {
                *p = static_cast<std::uint8_t>(std::lround(128 + 127 * v));
            } else if (bytes == 2) {
                const auto s = static_cast<std::int16_t>(std::lround(32767 * v));
                std::memcpy(p, &s, 2);
            } else {
                const auto s = static_cast<std::int32_t>(std::llround(2147483647.0 * v));
                std::memcpy(p, &s, 4);
            }
            p += bytes;
        }
    }
    return out;
}

bool runFfmpeg(const std::string& arguments) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " </dev/null";
    return std::system(command.c_str()) == 0;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pm::test
