#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "AudioFixtures.h"
#include "audio/AudioDecoder.h"
#include "audio/RateConverter.h"
#include "audio/SampleConversion.h"
#include "audio/SoundTrack.h"

namespace pm {
namespace {

constexpr TickTime kSecond = kTicksPerSecond;

// Ten seconds at 1000 Hz, stereo 16-bit, constant 10000 left and -8000 right: every gain shows
// directly in the values.
std::vector<std::uint8_t> constantSignal(std::size_t frames) {
    std::vector<std::uint8_t> out(frames * 4);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::int16_t l = 10000;
        const std::int16_t r = -8000;
        std::memcpy(&out[f * 4], &l, 2);
        std::memcpy(&out[f * 4 + 2], &r, 2);
    }
    return out;
}

struct Frame {
    std::int16_t left;
    std::int16_t right;
};

class SoundTrackTest : public testing::Test {
protected:
    void SetUp() override {
        test::writeWav(m_folder.file("flat.wav"), {1000, 2, 16}, constantSignal(10000));
        const AudioFormat f{44100, 2, 16};
        test::writeWav(m_folder.file("music.wav"), f, test::makeSignal(f, 44100 * 3));
        m_track.setChangeCallback([this](int code, int argument) {
            EXPECT_EQ(code, 0x10001);
            EXPECT_EQ(argument, 2);
            ++m_changes;
        });
    }

    std::vector<Frame> read(std::int64_t position, std::size_t frames, bool trimmed) {
        std::vector<Frame> out(frames);
        SampleRequest request{{1000, 2, 16}, frames, out.data(), position};
        EXPECT_TRUE(m_track.readSamples(request, trimmed));
        return out;
    }

    test::TempFolder m_folder;
    SoundTrack m_track;
    int m_changes = 0;
};

TEST_F(SoundTrackTest, OpensAndNormalisesItsTimes) {
    EXPECT_EQ(m_track.description(), "No Audio");
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    EXPECT_EQ(m_track.description(), "Audio: 2 Channel(s),  1.000kHz, 16Bit");
    EXPECT_TRUE(m_track.isPresent());
    EXPECT_EQ(m_changes, 1);
    EXPECT_EQ(m_track.fileName(), m_folder.file("flat.wav"));
    EXPECT_FALSE(m_track.isEmbedded());
    EXPECT_EQ(m_track.outPoint(), 10 * kSecond);
    EXPECT_EQ(m_track.totalBytes(), 40000);
    const SoundFormat f = m_track.soundFormat();
    EXPECT_TRUE(f.present);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.rate, 1000);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.bits, 16);

    EXPECT_TRUE(m_track.setFadeIn(6 * kSecond));
    EXPECT_EQ(m_track.fadeIn(), 5 * kSecond);
    EXPECT_TRUE(m_track.setFadeOut(7 * kSecond));
    EXPECT_EQ(m_track.fadeOut(), 5 * kSecond);
    EXPECT_TRUE(m_track.setInPoint(12 * kSecond));
    EXPECT_EQ(m_track.inPoint(), 10 * kSecond);
    EXPECT_TRUE(m_track.setInPoint(4 * kSecond));
    EXPECT_TRUE(m_track.setOutPoint(3 * kSecond));
    EXPECT_EQ(m_track.outPoint(), 4 * kSecond);
    const int before = m_changes;
    EXPECT_FALSE(m_track.setInPoint(4 * kSecond));  // no change, no announcement
    EXPECT_EQ(m_changes, before);

    m_track.clear();
    EXPECT_FALSE(m_track.isPresent());
    EXPECT_EQ(m_track.settings(), SoundSettings{});
}

TEST_F(SoundTrackTest, TrimsAndFadesAtTheEdges) {
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    m_track.setTimes(1 * kSecond, 9 * kSecond, 2 * kSecond, 1 * kSecond);
    // Frame j of the request is stream time 1 + j / 1000 s.
    const std::vector<Frame> all = read(0, 8100, true);
    struct Expect {
        std::size_t frame;
        std::int16_t left;
        std::int16_t right;
    };
    for (const Expect& e :
         {Expect{0, 0, 0}, Expect{1, 5, -4}, Expect{3, 15, -12}, Expect{1000, 5000, -4000},
          Expect{1999, 9995, -7996}, Expect{2000, 10000, -8000}, Expect{7000, 10000, -8000},
          Expect{7500, 5000, -4000}, Expect{7999, 10, -8}, Expect{8000, 0, 0},
          Expect{8099, 0, 0}}) {
        EXPECT_EQ(all[e.frame].left, e.left) << e.frame;
        EXPECT_EQ(all[e.frame].right, e.right) << e.frame;
    }
    // A block inside both points and outside both fades is the sound as it is.
    for (const Frame& f : read(3000, 500, true)) {
        ASSERT_EQ(f.left, 10000);
        ASSERT_EQ(f.right, -8000);
    }
    // Untrimmed reads still count from the in point but leave the values alone.
    const std::vector<Frame> raw = read(0, 10, false);
    EXPECT_EQ(raw[0].left, 10000);
    // Past the out point the whole block is silence.
    for (const Frame& f : read(8500, 100, true)) {
        ASSERT_EQ(f.left, 0);
    }
}

TEST_F(SoundTrackTest, FadesThatOverlapTakeTheSmallerGain) {
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    // The project ends 4 s after the in point: the 4 s fades overlap all the way.
    m_track.setTimes(1 * kSecond, 9 * kSecond, 4 * kSecond, 4 * kSecond);
    m_track.setProjectLength(4 * kSecond);
    const std::vector<Frame> all = read(0, 4000, true);
    EXPECT_EQ(all[1000].left, 2500);  // fade-in 1/4, fade-out 3/4
    EXPECT_EQ(all[2000].left, 5000);  // both 1/2
    EXPECT_EQ(all[3000].left, 2500);  // fade-in 3/4, fade-out 1/4
    EXPECT_EQ(all[3000].right, -2000);
}

TEST_F(SoundTrackTest, AFileNameLongerThanAProjectKeepsIsRefused) {
    // Names of 255 bytes at most in each folder, 300 in all.
    const std::string folder = m_folder.file(std::string(200, 'a'));
    std::filesystem::create_directories(folder);
    const std::string longName = folder + "/" + std::string(100, 'b') + ".wav";
    ASSERT_GT(longName.size(), 299u);
    std::filesystem::copy_file(m_folder.file("flat.wav"), longName);
    const AudioStatus status = m_track.open(longName);
    EXPECT_EQ(status.messageId, 6218);
    EXPECT_FALSE(m_track.isPresent());
}

TEST_F(SoundTrackTest, EndsWithTheProjectWithAShortFade) {
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    m_track.setTimes(1 * kSecond, 9 * kSecond, 0, 0);
    m_track.setProjectLength(4 * kSecond);
    const std::vector<Frame> all = read(3800, 300, true);
    EXPECT_EQ(all[3899 - 3800].left, 10000);  // before the last 0.1 s
    EXPECT_EQ(all[3950 - 3800].left, 5000);   // half-way down
    EXPECT_EQ(all[3950 - 3800].right, -4000);
    EXPECT_EQ(all[4000 - 3800].left, 0);  // the project has ended
    EXPECT_EQ(all[4099 - 3800].right, 0);
}

TEST_F(SoundTrackTest, OwnFormatReadsAreTheDecodedStreamAndSilencePastTheEnd) {
    ASSERT_TRUE(m_track.open(m_folder.file("music.wav")).ok());
    const AudioFormat f{44100, 2, 16};
    const std::vector<std::uint8_t> source = test::makeSignal(f, 44100 * 3);
    std::vector<std::uint8_t> got;
    std::vector<std::uint8_t> block(4410 * 4);
    for (std::int64_t p = 0; p < 44100 * 3 + 8820; p += 4410) {
        ASSERT_TRUE(m_track.readSamples({f, 4410, block.data(), p}, true));
        got.insert(got.end(), block.begin(), block.end());
    }
    ASSERT_EQ(got.size(), source.size() + 8820 * 4);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(source.size()), got.end(),
                            [](std::uint8_t b) { return b == 0; }));
    // 8-bit silence is 128, not 0.
    std::vector<std::uint8_t> silent(100, 7);
    ASSERT_TRUE(m_track.readSamples({{44100, 1, 8}, 100, silent.data(), 44100 * 5}, true));
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](std::uint8_t b) { return b == 128; }));
}

TEST_F(SoundTrackTest, ConvertsRateChannelsAndWidthInThatOrderAcrossBlocks) {
    ASSERT_TRUE(m_track.open(m_folder.file("music.wav")).ok());
    const AudioFormat source{44100, 2, 16};
    const std::vector<std::uint8_t> pcm = test::makeSignal(source, 44100 * 3);
    // The same pipeline run over the whole sound in one go.
    RateConverter converter({2, 44100, 16, 4, 48000, 16, 4});
    converter.push(pcm.data(), 44100 * 3);
    std::vector<std::uint8_t> resampled(converter.ready() * 4);
    const std::size_t frames = converter.pull(resampled.data(), converter.ready());
    std::vector<std::uint8_t> mono(frames * 2);
    convertChannels(frames, resampled.data(), 2, mono.data(), 1, 16);
    std::vector<std::uint8_t> expected(frames);
    convertWidth(frames, mono.data(), 16, expected.data(), 8, 1);

    std::vector<std::uint8_t> got;
    std::vector<std::uint8_t> block(1000);
    for (std::int64_t p = 0; p + 1000 <= static_cast<std::int64_t>(frames); p += 1000) {
        ASSERT_TRUE(m_track.readSamples({{48000, 1, 8}, 1000, block.data(), p}, false));
        got.insert(got.end(), block.begin(), block.end());
    }
    ASSERT_GT(got.size(), 140000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
}

TEST_F(SoundTrackTest, StreamsFromAStartTimeWithFades) {
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    m_track.setTimes(1 * kSecond, 9 * kSecond, 2 * kSecond, 1 * kSecond);
    std::unique_ptr<SoundStream> stream = m_track.openStream(kSecond * 3 / 2);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->position(), 1500);
    std::vector<Frame> block(1000);
    ASSERT_EQ(stream->read(block.data(), 1000, true), 1000u);
    EXPECT_EQ(block[0].left, 2500);  // half a second into the two-second fade-in
    ASSERT_EQ(stream->read(block.data(), 1000, false), 1000u);
    EXPECT_EQ(block[0].left, 10000);
    // Edits reach a running stream at its next block.
    m_track.setFadeIn(0);
    stream->seek(kSecond * 3 / 2);
    stream->read(block.data(), 1, true);
    EXPECT_EQ(block[0].left, 10000);
    stream->seek(kSecond * 19 / 2);
    EXPECT_EQ(stream->read(block.data(), 1000, false), 500u);
    EXPECT_EQ(block[499].left, 10000);
    EXPECT_EQ(block[500].left, 0);
    EXPECT_TRUE(stream->atEnd());
}

TEST_F(SoundTrackTest, EmbeddedCopyDecodesFromMemory) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        test::readBytes(m_folder.file("flat.wav")));
    ASSERT_TRUE(m_track.openEmbedded("/gone/away/flat.wav", bytes).ok());
    EXPECT_TRUE(m_track.isEmbedded());
    EXPECT_EQ(m_track.fileName(), "/gone/away/flat.wav");
    EXPECT_EQ(m_track.displayName(), "[flat.wav]");
    EXPECT_EQ(m_track.embeddedBytes(), bytes);
    EXPECT_EQ(read(5000, 1, true)[0].left, 10000);
    std::unique_ptr<SoundStream> stream = m_track.openStream(0);
    std::vector<Frame> block(10);
    EXPECT_EQ(stream->read(block.data(), 10, false), 10u);
    EXPECT_EQ(block[9].right, -8000);
}

TEST_F(SoundTrackTest, FailedOpenReportsAndLeavesNoSound) {
    ASSERT_TRUE(m_track.open(m_folder.file("flat.wav")).ok());
    const std::string bad = m_folder.file("bad.mp3");
    test::writeBytes(bad, {'n', 'o', 'p', 'e'});
    const AudioStatus status = m_track.open(bad);
    EXPECT_EQ(status.messageId, 6218);
    EXPECT_EQ(status.text.rfind("Could not load sound file. \n(" + bad + ")", 0), 0u);
    EXPECT_FALSE(m_track.isPresent());
    EXPECT_EQ(m_track.settings(), SoundSettings{});
    EXPECT_EQ(m_track.openStream(0), nullptr);
    // Without sound, exporters get silence.
    std::vector<Frame> block = read(0, 4, true);
    EXPECT_EQ(block[3].left, 0);
}

}  // namespace
}  // namespace pm
