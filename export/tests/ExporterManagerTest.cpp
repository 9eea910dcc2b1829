#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "export/ExporterManager.h"
#include "export/tests/RawMediaCalls.h"

// Counted by the test modules: init calls, module releases, exporter releases, runs.
extern "C" {
__attribute__((visibility("default"))) int pmTestPluginEvents[4] = {0, 0, 0, 0};
}

namespace pm {
namespace {

std::string plugin(const char* name) {
    return std::string(TEST_PLUGIN_DIR) + "/" + name + ".mzx";
}

// Serves one frame request by painting it, and records what was asked.
class FakeSource : public plugin::ExportSource {
public:
    virtual ~FakeSource() = default;
    int frames = 0;
    std::int32_t projectTitle(plugin::TextObject* title) override {
        title->set("Holiday");
        return 1;
    }
    TickTime* duration(TickTime* out) override {
        *out = 10 * kTicksPerSecond;
        return out;
    }
    std::int32_t audioFormat(plugin::AudioFormatDesc* format) override {
        *format = {};
        return 0;
    }
    std::int32_t audio(plugin::AudioBuffer*) override { return 1; }
    std::int32_t videoFrame(plugin::VideoFrame* frame) override {
        ++frames;
        std::memset(frame->image.pixels, 0x7F, static_cast<std::size_t>(frame->image.pitch) * 4);
        return 1;
    }
    std::int32_t keepAlpha(std::int32_t) override { return 0; }
};

class ExporterManagerTest : public ::testing::Test {
protected:
    HeadlessHostServices host;
    void SetUp() override { std::memset(pmTestPluginEvents, 0, sizeof pmTestPluginEvents); }
};

TEST_F(ExporterManagerTest, OnlyModulesWithTheRightIdentificationStart) {
    ExporterManager manager(host);
    const std::vector<std::string> started = manager.loadFolder(TEST_PLUGIN_DIR);
    // Sorted by name; wrong letter case, version 2 and a missing entry point start nothing. A
    // module without entries still starts.
    EXPECT_EQ(started,
              (std::vector<std::string>{"a_good.mzx", "d_no_entries.mzx", "f_eleven_direct.mzx"}));
    // The others are named with what is wrong with them.
    ASSERT_EQ(manager.skipped().size(), 3u);
    EXPECT_EQ(manager.skipped()[0],
              "b_wrong_case.mzx: not an exporter module (wrong identification)");
    EXPECT_EQ(manager.skipped()[1], "c_version_two.mzx: interface version 2, not 1");
    EXPECT_EQ(manager.skipped()[2], "e_no_init.mzx: the module did not start (PLGInit)");
    ASSERT_EQ(manager.formats().size(), 13u);
    EXPECT_EQ(manager.formats()[0]->displayName, "Test File");
    EXPECT_EQ(manager.formats()[0]->kind, kFileExporter);
    EXPECT_EQ(manager.formats()[1]->kind, kDirectExporter);
    EXPECT_EQ(manager.formats()[0]->fourthText, "fourth");

    // Eleven direct formats after the good module's one: the menu shows the first ten.
    int direct = 0;
    for (int i = manager.nextFormatOfKind(kDirectExporter, -1); i >= 0;
         i = manager.nextFormatOfKind(kDirectExporter, i)) {
        ++direct;
    }
    EXPECT_EQ(direct, 12);
    EXPECT_EQ(manager.formatOfKind(kFileExporter, 0), manager.formats()[0]);
    EXPECT_EQ(manager.formatOfKind(kFileExporter, 1), nullptr);
    EXPECT_EQ(manager.formatOfKind(0, 12), manager.formats()[12]);

    // Every module was unloaded after its formats were read.
    for (const auto& format : manager.formats()) {
        EXPECT_EQ(format->module->loadCount(), 0);
    }
    EXPECT_EQ(pmTestPluginEvents[0], 3);
    EXPECT_EQ(pmTestPluginEvents[1], 3);
}

TEST_F(ExporterManagerTest, AnExporterKeepsItsModuleLoadedAndRuns) {
    ExporterManager manager(host);
    ASSERT_TRUE(manager.addModule(plugin("a_good")));
    const auto format = manager.findByIdentifier("test.0");
    ASSERT_NE(format, nullptr);
    const int initsBefore = pmTestPluginEvents[0];
    {
        auto exporter = manager.createExporter(format);
        ASSERT_NE(exporter, nullptr);
        EXPECT_EQ(pmTestPluginEvents[0], initsBefore + 1);  // started again on first use
        EXPECT_EQ(format->module->loadCount(), 1);
        EXPECT_EQ(exporter->presetName(), "Test Preset");
        EXPECT_EQ(exporter->configurationSummary(), "4 x 4, no sound");
        std::string path = "/tmp/out";
        EXPECT_TRUE(exporter->adjustFileName(path));
        EXPECT_EQ(path, "/tmp/out.tst");
        EXPECT_FALSE(exporter->adjustFileName(path));
        plugin::AudioFormatDesc audio;
        ASSERT_TRUE(exporter->outputAudioFormat(audio));
        EXPECT_EQ(audio.size, 24u);
        EXPECT_EQ(audio.samplesPerSecond, 48000u);

        FakeSource source;
        EXPECT_EQ(exporter->run(source, "/tmp/out.tst"), 1);
        EXPECT_EQ(source.frames, 1);
    }
    EXPECT_EQ(pmTestPluginEvents[2], 1);  // exporter released
    EXPECT_EQ(format->module->loadCount(), 0);
}

// Remembers the message boxes it was asked to show.
class RecordingHost : public HeadlessHostServices {
public:
    std::uint32_t lastFlags = 0;
    std::string lastText;
    std::int32_t messageBox(std::uint32_t flags, const char* text) override {
        lastFlags = flags;
        lastText = text;
        return 1;
    }
};

TEST_F(ExporterManagerTest, AThrowingExporterFailsTheRunWith531) {
    RecordingHost recording;
    ExporterManager manager(recording);
    ASSERT_TRUE(manager.addModule(plugin("a_good")));
    auto exporter = manager.createExporter(manager.formats()[0]);
    ASSERT_NE(exporter, nullptr);
    FakeSource source;
    EXPECT_EQ(exporter->run(source, "throw"), 0);
    EXPECT_EQ(recording.lastFlags & 0xFFFF, 531u);
    EXPECT_EQ(recording.lastText.rfind("The exporter has caused a serious error!", 0), 0u);
    // The program goes on: the same exporter runs again.
    EXPECT_EQ(exporter->run(source, "/tmp/again.tst"), 1);
}

TEST_F(ExporterManagerTest, MissingAndForeignFilesOfferNothing) {
    ExporterManager manager(host);
    EXPECT_FALSE(manager.addModule(plugin("no_such_module")));
    EXPECT_FALSE(manager.addModule(plugin("e_no_init")));
    EXPECT_FALSE(manager.addModule(__FILE__));  // not a shared object at all
    EXPECT_TRUE(manager.loadFolder("/nonexistent/plugins").empty());
    EXPECT_TRUE(manager.formats().empty());
}

TEST(MediaObjects, CountedAndTimed) {
    plugin::VideoFrame* frame =
        plugin::VideoFrame::create(plugin::kYuy2, 5, 3, plugin::kSecondField, 0.5f);
    ASSERT_TRUE(frame->valid);
    EXPECT_EQ(frame->image.pitch, 12);  // 10 bytes rounded up to 4
    EXPECT_EQ(frame->image.bitsPerPixel, 16);
    frame->addRef();
    EXPECT_EQ(frame->release(), 0);
    EXPECT_EQ(frame->release(), 1);

    plugin::AudioFormatDesc format{24, 1, 2, 44100, 4, 16};
    plugin::AudioBuffer* audio = plugin::AudioBuffer::create(1024, format, 0);
    ASSERT_TRUE(audio->valid);
    audio->setTime(kTicksPerSecond / 2);
    EXPECT_EQ(audio->getPosition(), 22050);
    TickTime t = 0;
    EXPECT_EQ(*audio->getTime(&t), kTicksPerSecond / 2);
    EXPECT_EQ(audio->release(), 1);

    plugin::VideoFrame* huge =
        plugin::VideoFrame::create(plugin::kBgra32, 1 << 20, 1 << 20, plugin::kWholeFrame, 1);
    ASSERT_NE(huge, nullptr);
    EXPECT_FALSE(huge->valid);
    huge->release();
}

// A module written in another language reaches the media objects through the documented slots
// and field order alone.
TEST(MediaObjects, TheirSlotsAndFieldsAreWhereTheInterfaceSaysSoAnyModuleCanUseThem) {
    plugin::VideoFrame* frame =
        plugin::VideoFrame::create(plugin::kBgra32, 40, 20, plugin::kWholeFrame, 1.0f);
    ASSERT_TRUE(frame->valid);
    EXPECT_EQ(rawFrameWidth(frame), 40);
    EXPECT_EQ(rawFrameSetAndGetTime(frame, 123'456'789), 123'456'789);
    EXPECT_EQ(frame->time, 123'456'789);
    frame->time = 42;
    EXPECT_EQ(rawFrameTimeField(frame), 42);
    frame->addRef();
    EXPECT_EQ(rawReferenceCount(frame), 2);
    EXPECT_EQ(rawRelease(frame), 0);
    EXPECT_EQ(rawRelease(frame), 1);

    plugin::AudioFormatDesc format{24, 1, 2, 48000, 4, 16};
    plugin::AudioBuffer* audio = plugin::AudioBuffer::create(256, format, 7);
    ASSERT_TRUE(audio->valid);
    EXPECT_EQ(rawBufferRate(audio), 48000u);
    EXPECT_EQ(rawBufferPositionAfter(audio, 96'000), 96'000);
    std::int64_t position = 0;
    EXPECT_EQ(rawBufferTimeAfter(audio, kTicksPerSecond / 4, &position), kTicksPerSecond / 4);
    EXPECT_EQ(position, 12'000);
    EXPECT_EQ(rawRelease(audio), 1);
}

}  // namespace
}  // namespace pm
