#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/AppSettings.h"
#include "app/PreferenceParticipant.h"
#include "app/Preferences.h"
#include "store/MemoryStorage.h"
#include "store/NullKey.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

TEST(AppSettingsTest, FrameRateBecomesDisplayFrameDuration) {
    struct Case {
        double rate;
        std::optional<TickTime> duration;
    };
    const Case cases[] = {
        {29.97, 900'901},
        {25.0, 1'080'000},
        {100.0, 270'000},
        {30000.0 / 1001.0, 900'900},
        {1.0, 27'000'000},
        {0.0, std::nullopt},
        {-25.0, std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {1e-300, std::nullopt},
        {1e9, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppSettings::frameDurationForFrameRate(c.rate), c.duration) << c.rate;
    }
}

TEST(AppSettingsTest, InstallationVideoFormatSetsTheTimeDisplay) {
    struct Case {
        std::optional<std::uint32_t> videoFormat;
        TickTime duration;
        int type;
    };
    const Case cases[] = {
        {std::nullopt, 270'000, 1}, {1u, 900'901, 0}, {2u, 1'080'000, 1},
        {3u, 270'000, 1},           {0u, 270'000, 1},
    };
    for (const auto& c : cases) {
        AppSettings settings;
        settings.applyVideoFormat(c.videoFormat);
        EXPECT_EQ(settings.displayFrameDuration, c.duration);
        EXPECT_EQ(settings.timecodeType, c.type);
    }
}

class MemorySection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_storage.open());
        m_section = m_storage.root()->createChild("Settings");
        ASSERT_TRUE(m_section);
    }
    MemoryStorage m_storage;
    StoreKeyPtr m_section;
};

TEST_F(MemorySection, SavedValuesLoadBack) {
    AppSettings saved;
    saved.displayFrameDuration = 900'901;
    saved.timecodeType = 0;
    saved.useDefaultScene = false;
    saved.imagesInProject = false;
    saved.replaceAutoCheck = false;
    saved.defaultInterpolation = 2;
    saved.defaultPosSmoothing = 12.5;
    saved.save(*m_section);

    AppSettings loaded;
    loaded.load(*m_section);
    loaded.readUseDefaultScene(*m_section);
    EXPECT_EQ(loaded, saved);
    EXPECT_NEAR(m_section->getDouble("FrameRate", 0.0), 29.97, 1e-4);
}

TEST_F(MemorySection, ValuesOfAnotherTypeOrOutOfRangeReadAsDefaults) {
    m_section->setInt("FrameRate", 25);  // must be a double
    m_section->setInt("TimeCodeType", 9);
    m_section->setString("UseDfltScene", "0");
    StoreKeyPtr keyFrames = m_section->createChild("KeyFrames");
    keyFrames->setString("DefaultInterpolation", "2");
    keyFrames->setInt("DefaultPosSmoothing", 10);
    keyFrames->setDouble("BmpInPzp", 0.0);
    keyFrames->setString("RplcAutocheck", "0");

    AppSettings settings;
    settings.displayFrameDuration = 1'080'000;  // the current value is the default
    settings.load(*m_section);
    settings.readUseDefaultScene(*m_section);
    AppSettings expected;
    expected.displayFrameDuration = 1'080'000;
    EXPECT_EQ(settings, expected);

    keyFrames->setInt("DefaultInterpolation", 4);
    m_section->setDouble("FrameRate", 0.0);
    settings.load(*m_section);
    EXPECT_EQ(settings.defaultInterpolation, 3);
    EXPECT_EQ(settings.displayFrameDuration, 1'080'000);
}

TEST(AppSettingsTest, EmptyNodeGivesDefaultsAndKeepsTheTimeDisplay) {
    AppSettings settings;
    settings.displayFrameDuration = 900'901;
    settings.timecodeType = 0;
    settings.defaultInterpolation = 1;
    settings.defaultPosSmoothing = 80.0;
    settings.imagesInProject = false;
    StoreKeyPtr empty = NullKey::create();
    settings.load(*empty);
    EXPECT_EQ(settings.displayFrameDuration, 900'901);
    EXPECT_EQ(settings.timecodeType, 0);
    EXPECT_EQ(settings.defaultInterpolation, 3);
    EXPECT_EQ(settings.defaultPosSmoothing, 50.0);
    EXPECT_TRUE(settings.imagesInProject);
}

// Records the order in which participants are visited.
class Recorder : public PreferenceParticipant {
public:
    Recorder(std::vector<std::string>& log, std::string name) : m_log(log), m_name(name) {}
    void exchangePreferences(StoreKey& settings, bool save) override {
        m_log.push_back(m_name + (save ? " save" : " load"));
        StoreKeyPtr own = Preferences::subsection(settings, m_name, save);
        if (save) {
            own->setInt("Value", value);
        } else {
            value = own->getInt("Value", -1);
        }
    }
    int value = 0;

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST_F(MemorySection, ParticipantsGoInSlotOrderAndRestoreDefaultsWritesNothing) {
    std::vector<std::string> log;
    Recorder view(log, "View"), app(log, "App"), preview(log, "Preview");
    Preferences preferences;
    preferences.attach(PreferenceSlot::ActiveView, &view);
    preferences.attach(PreferenceSlot::PreviewBar, &preview);
    preferences.attach(PreferenceSlot::Application, &app);
    view.value = 3;
    app.value = 1;
    preview.value = 2;

    preferences.save(*m_section);
    preferences.load(*m_section);
    EXPECT_EQ(log, (std::vector<std::string>{"App save", "Preview save", "View save", "App load",
                                             "Preview load", "View load"}));
    EXPECT_EQ(view.value, 3);

    preferences.restoreDefaults();
    EXPECT_EQ(view.value, -1);
    EXPECT_EQ(app.value, -1);
    EXPECT_EQ(m_section->openChild("View")->getInt("Value", 0), 3);

    preferences.detach(&view);
    log.clear();
    preferences.load(*m_section);
    EXPECT_EQ(log, (std::vector<std::string>{"App load", "Preview load"}));
}

}  // namespace
}  // namespace pm
