#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "AudioFixtures.h"
#include "audio/AudioDecoder.h"

namespace pm {
namespace {

class AudioDecoderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = std::make_unique<test::TempFolder>();
        const AudioFormat f16{8000, 2, 16};
        test::writeWav(file("s16.wav"), f16, test::makeSignal(f16, 24000));
        const AudioFormat f8{11025, 1, 8};
        test::writeWav(file("u8.wav"), f8, test::makeSignal(f8, 22050));
        const AudioFormat f32{22050, 2, 32};
        test::writeWav(file("s32.wav"), f32, test::makeSignal(f32, 33075));
        const AudioFormat source{44100, 2, 16};
        test::writeWav(file("source.wav"), source, test::makeSignal(source, 44100 * 6));
        ASSERT_TRUE(test::runFfmpeg("-i " + file("source.wav") + " -c:a libmp3lame -b:a 128k " +
                                    file("tone.mp3")));
        ASSERT_TRUE(
            test::runFfmpeg("-i " + file("source.wav") + " -c:a aac -b:a 96k " + file("tone.m4a")));
        ASSERT_TRUE(test::runFfmpeg(
            "-f lavfi -i testsrc=size=64x48:rate=10:duration=4 -f lavfi -i "
            "sine=frequency=500:sample_rate=48000:duration=4 -c:v mpeg4 -c:a aac -shortest " +
            file("clip.mp4")));
        ASSERT_TRUE(test::runFfmpeg(
            "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -c:v mpeg4 " + file("silent.mp4")));
        ASSERT_TRUE(
            test::runFfmpeg("-f lavfi -i testsrc=size=32x32 -frames:v 1 " + file("picture.png")));
    }
    static void TearDownTestSuite() { s_folder.reset(); }

    static std::string file(const std::string& name) { return s_folder->file(name); }

    static std::vector<std::uint8_t> decodeAll(AudioDecoder& decoder) {
        std::vector<std::uint8_t> out;
        const int frameBytes = decoder.format().bytesPerFrame();
        std::vector<std::uint8_t> block(4000 * static_cast<std::size_t>(frameBytes));
        while (true) {
            const std::size_t n = decoder.read(block.data(), 4000);
            out.insert(out.end(), block.begin(), block.begin() + n * frameBytes);
            if (n < 4000) {
                return out;
            }
        }
    }

    static std::unique_ptr<test::TempFolder> s_folder;
};

std::unique_ptr<test::TempFolder> AudioDecoderTest::s_folder;

TEST_F(AudioDecoderTest, WavDecodesBitExactInItsOwnFormat) {
    struct Case {
        const char* name;
        AudioFormat format;
        std::size_t frames;
    };
    for (const Case& c :
         {Case{"s16.wav", {8000, 2, 16}, 24000}, Case{"u8.wav", {11025, 1, 8}, 22050},
          Case{"s32.wav", {22050, 2, 32}, 33075}}) {
        SCOPED_TRACE(c.name);
        AudioDecoder decoder;
        ASSERT_TRUE(decoder.open(file(c.name)).ok());
        EXPECT_EQ(decoder.format(), c.format);
        EXPECT_NEAR(decoder.duration(), static_cast<double>(c.frames) / c.format.rate, 1e-3);
        EXPECT_EQ(decodeAll(decoder), test::makeSignal(c.format, c.frames));
    }
}

TEST_F(AudioDecoderTest, CompressedAndVideoSoundsKeepTheirRateAndChannels) {
    struct Case {
        const char* name;
        AudioFormat format;
        double seconds;
    };
    for (const Case& c :
         {Case{"tone.mp3", {44100, 2, 16}, 6.0}, Case{"tone.m4a", {44100, 2, 16}, 6.0},
          Case{"clip.mp4", {48000, 1, 16}, 4.0}}) {
        SCOPED_TRACE(c.name);
        AudioDecoder decoder;
        ASSERT_TRUE(decoder.open(file(c.name)).ok());
        EXPECT_EQ(decoder.format(), c.format);
        EXPECT_NEAR(decoder.duration(), c.seconds, 0.1);
        const std::size_t frames = decodeAll(decoder).size() / c.format.bytesPerFrame();
        EXPECT_NEAR(static_cast<double>(frames), c.seconds * c.format.rate, 3000.0);
    }
}

TEST_F(AudioDecoderTest, SeekingGivesTheSamplesOfDecodingFromTheStart) {
    for (const char* name : {"s16.wav", "tone.mp3", "tone.m4a", "clip.mp4"}) {
        SCOPED_TRACE(name);
        AudioDecoder decoder;
        ASSERT_TRUE(decoder.open(file(name)).ok());
        const std::vector<std::uint8_t> all = decodeAll(decoder);
        const int frameBytes = decoder.format().bytesPerFrame();
        const auto total = static_cast<std::int64_t>(all.size() / frameBytes);
        const int rate = decoder.format().rate;
        // Backwards, forwards, short hops, long jumps, near both ends.
        const std::vector<std::int64_t> targets = {rate * 21 / 10,
                                                   5,
                                                   rate + 333,
                                                   rate * 3 / 10,
                                                   rate * 29 / 10,
                                                   0,
                                                   total - 100,
                                                   rate * 5 / 10,
                                                   rate * 5 / 10 + 4000,
                                                   total / 2 + 1,
                                                   1};
        for (std::int64_t target : targets) {
            SCOPED_TRACE(target);
            ASSERT_TRUE(decoder.seek(target));
            EXPECT_EQ(decoder.position(), target);
            std::vector<std::uint8_t> got(3000 * static_cast<std::size_t>(frameBytes));
            const std::size_t n = decoder.read(got.data(), 3000);
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::int64_t>(3000, total - target));
            ASSERT_EQ(n, want);
            got.resize(n * frameBytes);
            const auto begin = all.begin() + target * frameBytes;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), begin)) << "samples differ";
            EXPECT_EQ(decoder.position(), target + static_cast<std::int64_t>(n));
        }
    }
}

TEST_F(AudioDecoderTest, DecodesFromMemoryLikeFromTheFile) {
    AudioDecoder fromFile;
    ASSERT_TRUE(fromFile.open(file("tone.mp3")).ok());
    const std::vector<std::uint8_t> expected = decodeAll(fromFile);
    auto bytes =
        std::make_shared<const std::vector<std::uint8_t>>(test::readBytes(file("tone.mp3")));
    AudioDecoder fromMemory;
    ASSERT_TRUE(fromMemory.openMemory(bytes, "tone.mp3").ok());
    EXPECT_EQ(fromMemory.format(), fromFile.format());
    EXPECT_EQ(decodeAll(fromMemory), expected);
    const int frameBytes = fromMemory.format().bytesPerFrame();
    ASSERT_TRUE(fromMemory.seek(100000));
    std::vector<std::uint8_t> got(1000 * static_cast<std::size_t>(frameBytes));
    ASSERT_EQ(fromMemory.read(got.data(), 1000), 1000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + 100000 * frameBytes));
}

std::vector<std::uint8_t> firstBytes(const std::vector<std::uint8_t>& in, std::size_t n) {
    return {in.begin(), in.begin() + static_cast<std::ptrdiff_t>(std::min(n, in.size()))};
}

TEST_F(AudioDecoderTest, UnreadableFilesFailWithTheirPath) {
    const std::vector<std::uint8_t> wav = test::readBytes(file("s16.wav"));
    const std::vector<std::uint8_t> mp3 = test::readBytes(file("tone.mp3"));
    const std::vector<std::uint8_t> m4a = test::readBytes(file("tone.m4a"));
    std::vector<std::uint8_t> noise(20000);
    std::mt19937 rng(99);
    for (auto& b : noise) {
        b = static_cast<std::uint8_t>(rng());
    }
    const std::string text = "Just some words, not a sound at all.\n";
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"empty.wav", {}},
        {"words.mp3", {text.begin(), text.end()}},
        {"noise.mp3", noise},
        {"noise.wav", noise},
        {"header.wav", firstBytes(wav, 30)},
        {"headeronly.wav", firstBytes(wav, 44)},
        {"stub.mp3", firstBytes(mp3, 200)},
        {"half.m4a", firstBytes(m4a, m4a.size() / 2)},  // its index sits at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(c.name);
        test::writeBytes(path, c.bytes);
        AudioDecoder decoder;
        const AudioStatus status = decoder.open(path);
        EXPECT_FALSE(status.ok());
        EXPECT_EQ(status.messageId, 6218);
        EXPECT_EQ(status.text.rfind("Could not load sound file. \n(" + path + ")\n", 0), 0u)
            << status.text;
        EXPECT_FALSE(decoder.isOpen());
    }
    // The message's last line says what is wrong, in the user's words.
    std::filesystem::create_directories(file("folder.wav"));
    const std::string longName = file(std::string(200, 'a') + "/" + std::string(100, 'b') + ".wav");
    const std::pair<std::string, const char*> reasons[] = {
        {file("missing.wav"), "no such file"},
        {file("folder.wav"), "it is a folder"},
        {longName, "the file name is longer than 299 characters"},
        {file("picture.png"), "it holds no sound that can be played"},
        {file("words.mp3"), "it is not a sound or video file that can be decoded"},
        {file("silent.mp4"), "it holds no sound that can be played"},
    };
    for (const auto& [path, reason] : reasons) {
        AudioDecoder decoder;
        const AudioStatus status = decoder.open(path);
        EXPECT_EQ(status.messageId, 6218) << path;
        EXPECT_EQ(status.text.substr(status.text.rfind('\n') + 1), reason) << path;
        EXPECT_FALSE(decoder.isOpen()) << path;
    }
}

TEST_F(AudioDecoderTest, DamagedStreamsEndEarlyInsteadOfHanging) {
    const std::vector<std::uint8_t> mp3 = test::readBytes(file("tone.mp3"));
    std::vector<std::uint8_t> scrambled = mp3;
    std::mt19937 rng(5);
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() * 2 / 3; ++i) {
        scrambled[i] = static_cast<std::uint8_t>(rng());
    }
    const std::vector<std::uint8_t> wav = test::readBytes(file("s16.wav"));
    std::vector<std::uint8_t> oddWav = firstBytes(wav, wav.size() / 2 + 1);
    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        double maxSeconds;
    };
    const std::vector<Case> cases = {
        {"cut.mp3", firstBytes(mp3, mp3.size() / 2), 3.2},
        {"scrambled.mp3", scrambled, 6.5},
        {"cut.wav", oddWav, 1.6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(c.name);
        test::writeBytes(path, c.bytes);
        AudioDecoder decoder;
        const auto started = std::chrono::steady_clock::now();
        const AudioStatus status = decoder.open(path);
        if (!status.ok()) {
            EXPECT_EQ(status.messageId, 6218);
            continue;
        }
        const std::size_t frames = decodeAll(decoder).size() / decoder.format().bytesPerFrame();
        EXPECT_LE(static_cast<double>(frames), c.maxSeconds * decoder.format().rate);
        // Seeking into and past the damage stays well-behaved.
        EXPECT_TRUE(decoder.seek(decoder.format().rate * 2));
        std::vector<std::uint8_t> block(4096 *
                                        static_cast<std::size_t>(decoder.format().bytesPerFrame()));
        decoder.read(block.data(), 4096);
        EXPECT_TRUE(decoder.seek(decoder.format().rate * 30));
        EXPECT_EQ(decoder.read(block.data(), 4096), 0u);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    }
}

}  // namespace
}  // namespace pm
