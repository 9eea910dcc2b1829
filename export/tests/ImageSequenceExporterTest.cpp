#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "export/ExporterManager.h"
#include "export/tests/ExportSourceFixtures.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

class ImageSequenceExporterTest : public ::testing::Test {
protected:
    HeadlessHostServices host;
    ExporterManager manager{host};
    std::filesystem::path dir;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              (std::string("pm-images-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ASSERT_TRUE(manager.addModule(PLUGIN_DIR "/images.mzx"));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::unique_ptr<ExporterInstance> exporterFor(const std::string& id) {
        auto exporter = manager.createExporter(manager.findByIdentifier(id));
        MemoryStorage settings;
        EXPECT_TRUE(settings.open());
        StoreKeyPtr data = settings.root();
        data->setInt("Width", 32);
        data->setInt("Height", 16);
        data->setInt64("FrameDuration", kTicksPerSecond / 2);  // 4 frames in 2 s
        EXPECT_TRUE(exporter->loadSettings(data.get()));
        return exporter;
    }
};

TEST_F(ImageSequenceExporterTest, WritesNumberedPictures) {
    struct Case {
        const char* id;
        const char* name;
        const char* first;
        const char* magic;
    };
    const Case cases[] = {
        {"pictomove.images.png", "frame.png", "frame_00000.png", "\x89PNG"},
        {"pictomove.images.jpg", "shot%03d.jpg", "shot000.jpg", "\xFF\xD8\xFF"},
    };
    for (const Case& c : cases) {
        auto exporter = exporterFor(c.id);
        ToneAndGradient source;
        ASSERT_EQ(exporter->run(source, (dir / c.name).string().c_str()), 1) << c.id;
        EXPECT_EQ(source.framesServed, 4);
        std::ifstream first(dir / c.first, std::ios::binary);
        ASSERT_TRUE(first) << c.first;
        std::string head(std::strlen(c.magic), '\0');
        first.read(head.data(), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, c.magic) << c.id;
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "frame_00003.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "frame_00004.png"));
    // The sound of the 2 s: a WAV of 48 kHz 16-bit stereo beside the pictures.
    EXPECT_EQ(std::filesystem::file_size(dir / "frame.wav"), 44u + 2 * 48000 * 4);
    EXPECT_EQ(std::filesystem::file_size(dir / "shot.wav"), 44u + 2 * 48000 * 4);
}

TEST_F(ImageSequenceExporterTest, RawFramesAreRowsOfBgra) {
    auto exporter = exporterFor("pictomove.images.raw");
    ToneAndGradient source;
    source.withSound = false;
    const auto path = dir / "frames.raw";
    ASSERT_EQ(exporter->run(source, path.string().c_str()), 1);
    EXPECT_EQ(std::filesystem::file_size(path), 4u * 32 * 16 * 4);
    std::ifstream in(path, std::ios::binary);
    unsigned char pixel[4];
    in.read(reinterpret_cast<char*>(pixel), 4);
    // The gradient's first pixel of the first frame: B = x + frame number, G = y, R = 128.
    EXPECT_EQ(pixel[0], 1);
    EXPECT_EQ(pixel[1], 0);
    EXPECT_EQ(pixel[2], 128);
    EXPECT_EQ(exporter->configurationSummary(),
              "32 x 16, 2 frames per second, 32-bit BGRA, top row first");
}

TEST_F(ImageSequenceExporterTest, CancellingLeavesNoPictures) {
    auto exporter = exporterFor("pictomove.images.png");
    ToneAndGradient source;
    source.cancelAfter = 2;
    EXPECT_EQ(exporter->run(source, (dir / "cut.png").string().c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
}  // namespace pm
