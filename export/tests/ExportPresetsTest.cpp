#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "export/ExportPresets.h"
#include "export/ExporterManager.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

class ExportPresetsTest : public ::testing::Test {
protected:
    HeadlessHostServices host;
    ExporterManager manager{host};
    std::filesystem::path folder;
    std::unique_ptr<ExporterInstance> exporter;

    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 (std::string("pm-presets-") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name()) /
                 "Settings";
        std::filesystem::remove_all(folder.parent_path());
        ASSERT_TRUE(manager.addModule(PLUGIN_DIR "/ffmpeg.mzx"));
        exporter = manager.createExporter(manager.findByIdentifier("pictomove.ffmpeg.mp4"));
        ASSERT_NE(exporter, nullptr);
    }
    void TearDown() override {
        exporter.reset();
        std::filesystem::remove_all(folder.parent_path());
    }

    void size(int width, int height) {
        MemoryStorage settings;
        ASSERT_TRUE(settings.open());
        StoreKeyPtr data = settings.root();
        data->setInt("Width", width);
        data->setInt("Height", height);
        ASSERT_TRUE(exporter->loadSettings(data.get()));
    }
};

TEST_F(ExportPresetsTest, AddApplyRemoveAndRememberTheLastOne) {
    ExportPresets presets;
    ASSERT_TRUE(presets.open(folder, exporter->presetName()));
    EXPECT_TRUE(std::filesystem::exists(folder));
    EXPECT_TRUE(presets.writable());
    EXPECT_EQ(presets.selected(), -1);

    size(1280, 720);
    ASSERT_EQ(presets.add("Web", *exporter), 0);
    size(640, 360);
    ASSERT_TRUE(presets.add("web", *exporter));  // same name, other case
    ASSERT_TRUE(presets.add("Web", *exporter));
    // Presets are listed in the store's order of key names (byte by byte).
    ASSERT_EQ(presets.entries().size(), 3u);
    EXPECT_EQ(presets.entries()[1].name, "Web (2)");
    EXPECT_EQ(presets.entries()[2].name, "web (1)");

    ASSERT_TRUE(presets.apply(0, *exporter));
    EXPECT_EQ(exporter->configurationSummary().rfind("1280 x 720", 0), 0u);
    presets.close();

    ExportPresets again;
    ASSERT_TRUE(again.open(folder, exporter->presetName()));
    ASSERT_EQ(again.entries().size(), 3u);
    EXPECT_EQ(again.selected(), 0);  // "Last" survived
    ASSERT_TRUE(again.remove(1));
    ASSERT_EQ(again.entries().size(), 2u);
    EXPECT_EQ(again.entries()[1].name, "web (1)");
    EXPECT_FALSE(again.remove(7));
}

TEST_F(ExportPresetsTest, NamesInTheSystemLanguageAndReadOnlyPresets) {
    EXPECT_EQ(ExportPresets::localizedNameKey(0x0409), "Name. 409");
    {
        ExportPresets presets;
        ASSERT_TRUE(presets.open(folder, "Hand"));
        presets.close();
        FileStorage file;
        ASSERT_TRUE(file.open(folder / "Hand.EPF", FileStorage::kOpenExisting));
        StoreKeyPtr p = file.root()->createChild("Factory");
        p->setString("Name", "Factory");
        p->setString("Name. 409", "Factory (English)");
        p->setInt("ReadOnly", 1);
        p->createChild("Data");
        p.reset();
        ASSERT_TRUE(file.close());
    }
    const char* old = std::getenv("LANG");
    const std::string saved = old ? old : "";
    setenv("LANG", "en_US.UTF-8", 1);
    ExportPresets presets;
    ASSERT_TRUE(presets.open(folder, "Hand"));
    ASSERT_EQ(presets.entries().size(), 1u);
    EXPECT_EQ(presets.entries()[0].name, "Factory (English)");
    EXPECT_TRUE(presets.entries()[0].readOnly);
    EXPECT_FALSE(presets.remove(0));
    if (old) {
        setenv("LANG", saved.c_str(), 1);
    } else {
        unsetenv("LANG");
    }
}

}  // namespace
}  // namespace pm
