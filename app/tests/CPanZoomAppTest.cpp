#include <gtest/gtest.h>

#include <fstream>

#include "AppTestEnvironment.h"
#include "app/CPanZoomApp.h"
#include "core/ChangeListener.h"
#include "core/KeyframeDesc.h"
#include "core/MotionParameter.h"
#include "core/StringTable.h"
#include "document/ProjectDocument.h"
#include "export/ExporterManager.h"
#include "render/ImageCache.h"
#include "store/RegistryKey.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

namespace fs = std::filesystem;
using test::ScratchHome;

// Counts the broadcasts of each code the application sends about itself.
class CodeLog : public ChangeListener {
public:
    std::int32_t onChange(std::uint32_t code, ChangeArgument argument) override {
        codes.emplace_back(code, argument);
        return 0;
    }
    int count(std::uint32_t code) const {
        return static_cast<int>(std::count_if(codes.begin(), codes.end(),
                                              [&](const auto& c) { return c.first == code; }));
    }
    std::vector<std::pair<std::uint32_t, ChangeArgument>> codes;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Installed where the build keeps its plug-ins.
        ScratchHome::setString(m_scratch.machineRegistry(), "", "DestDir", PICTOMOVE_BUILD_DIR);
    }
    std::unique_ptr<CPanZoomApp> makeApp() {
        return std::make_unique<CPanZoomApp>(m_scratch.registry());
    }
    StoreKeyPtr userSettings() {
        StoreKeyPtr root = RegistryKey::openFile(m_scratch.userRegistry(), true);
        return root ? root->openPath("SOFTWARE\\Korvane\\Pictomove\\Settings") : nullptr;
    }
    fs::path tempFolder() const { return m_scratch.runtime() / "Pictomove"; }

    ScratchHome m_scratch;
};

TEST_F(AppTest, FirstRunStartsOnDefaultsAndSetsTheMacros) {
    auto app = makeApp();
    std::vector<std::string> status;
    app->setStatusSink([&](const std::string& text) { status.push_back(text); });
    ASSERT_TRUE(app->initInstance(CommandLine{})) << app->errors().text();
    EXPECT_FALSE(app->errors().hasFailure()) << app->errors().text();

    const PathMacros& macros = app->macros();
    EXPECT_EQ(macros.expand("{TMP}"), m_scratch.runtime().string());
    EXPECT_EQ(macros.expand("{PRG}"), PICTOMOVE_BUILD_DIR);
    EXPECT_EQ(macros.expand("{CMN}"), std::string(PICTOMOVE_BUILD_DIR) + "/share/pictomove");
    EXPECT_EQ(macros.expand("{CFG}"), (m_scratch.config() / "Korvane/Pictomove").string());
    EXPECT_EQ(macros.expand("{IMG}"), (m_scratch.home() / "Pictures").string());
    EXPECT_EQ(macros.expand("{USR}"), (m_scratch.home() / "Documents").string());
    EXPECT_EQ(app->folders().folder("PzpPath"),
              (m_scratch.home() / "Documents/Pictomove").string());

    EXPECT_EQ(app->displayFrameDuration(), 270'000);
    EXPECT_EQ(app->timecodeType(), 1);
    EXPECT_EQ(app->formatTime(40'500'000), "00:00:01:50");
    EXPECT_EQ(app->editMode(), CPanZoomApp::kEditProject);
    EXPECT_EQ(app->context().project().sceneCount(), 1);
    EXPECT_TRUE(app->launchWizardAtStartup());
    EXPECT_EQ(app->settings(), AppSettings{});
    EXPECT_EQ(app->context().tables().positionSmoothing(), 50.0);

    // The exporter modules of the build folder were started and announced.
    ASSERT_NE(app->exporters(), nullptr);
    EXPECT_EQ(app->loadedModules(), (std::vector<std::string>{"ffmpeg.mzx", "images.mzx"}));
    EXPECT_EQ(status, app->loadedModules());
    EXPECT_FALSE(app->exporters()->formats().empty());

    // The settings section exists from the first run on.
    EXPECT_TRUE(userSettings());
    EXPECT_TRUE(app->tempFolder().isFirstInstance());
    EXPECT_EQ(app->tempFiles().folder(), tempFolder());
}

TEST_F(AppTest, StoredSettingsAndInstallationFormatAreRead) {
    ScratchHome::setInt(m_scratch.machineRegistry(), "", "VideoFormat", 2);
    ScratchHome::setString(m_scratch.machineRegistry(), "", "Version", "2.00.01.05");
    ScratchHome::setString(m_scratch.userRegistry(), "", "TempDir",
                           (m_scratch.root() / "t/").string());
    ScratchHome::setString(m_scratch.userRegistry(), "", "UserDir", "/my/docs");
    ScratchHome::setInt(m_scratch.userRegistry(), "Settings", "UseDfltScene", 0);
    ScratchHome::setInt(m_scratch.userRegistry(), "ProjWiz", "PWLaunchStartup", 0);
    {
        auto app = makeApp();
        std::vector<std::string> status;
        app->setStatusSink([&](const std::string& text) { status.push_back(text); });
        ASSERT_TRUE(app->initInstance(CommandLine{}));
        EXPECT_EQ(app->displayFrameDuration(), 1'080'000);
        EXPECT_EQ(app->timecodeType(), 1);
        EXPECT_EQ(app->formatTime(25 * 1'080'000), "00:00:01:00");
        EXPECT_EQ(app->macros().expand("{tmp}\\a.txt"), (m_scratch.root() / "t/a.txt").string());
        EXPECT_EQ(app->tempFiles().folder(), m_scratch.root() / "t/Pictomove");
        EXPECT_EQ(app->macros().expand("{USR}"), "/my/docs");
        EXPECT_EQ(app->context().project().sceneCount(), 0);
        EXPECT_FALSE(app->launchWizardAtStartup());
        EXPECT_EQ(status.back(), "2.00.01.05");
    }
    // A stored frame rate wins over the installation's format.
    ScratchHome::setDouble(m_scratch.userRegistry(), "Settings", "FrameRate", 29.97);
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine{}));
    EXPECT_EQ(app->displayFrameDuration(), 900'901);
    EXPECT_EQ(app->timecodeType(), 1);
}

TEST_F(AppTest, PreferencesSurviveARestartAndRestoreDefaultsAsksFirst) {
    {
        auto app = makeApp();
        ASSERT_TRUE(app->initInstance(CommandLine{}));
        app->setTimeDisplay(900'901, 0);
        app->setDefaultInterpolation(2);
        app->setDefaultPosSmoothing(20.0);
        app->setImagesInProject(false);
        app->setUseDefaultScene(false);
        EXPECT_EQ(app->context().project().current().defaultInterpolationMode(),
                  InterpolationMode::Linear);
        EXPECT_EQ(app->context().tables().positionSmoothing(), 20.0);
        app->exitInstance();  // saves
    }
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine{}));
    EXPECT_EQ(app->displayFrameDuration(), 900'901);
    EXPECT_EQ(app->timecodeType(), 0);
    EXPECT_EQ(app->formatTime(1800 * 900'901), "00:01:00;02");
    EXPECT_EQ(app->parseTime("1:00;02"), 1800 * 900'901);
    EXPECT_EQ(app->settings().defaultInterpolation, 2);
    EXPECT_EQ(app->context().tables().positionSmoothing(), 20.0);
    EXPECT_FALSE(app->settings().imagesInProject);
    EXPECT_FALSE(app->settings().useDefaultScene);
    EXPECT_EQ(app->context().project().sceneCount(), 0);

    const std::string stored = test::readFile(m_scratch.userRegistry());
    std::vector<int> asked;
    EXPECT_FALSE(app->restoreDefaultSettings([&](int id) {
        asked.push_back(id);
        return false;
    }));
    EXPECT_EQ(app->settings().defaultInterpolation, 2);
    EXPECT_TRUE(app->restoreDefaultSettings([&](int id) {
        asked.push_back(id);
        return true;
    }));
    EXPECT_EQ(asked, (std::vector<int>{501, 501}));
    EXPECT_NE(strings::find(501), nullptr);
    EXPECT_EQ(app->settings().defaultInterpolation, 3);
    EXPECT_EQ(app->context().tables().positionSmoothing(), 50.0);
    EXPECT_TRUE(app->settings().imagesInProject);
    EXPECT_EQ(app->context().project().current().defaultInterpolationMode(),
              InterpolationMode::Spline);
    // Nothing is written until the next save.
    EXPECT_EQ(test::readFile(m_scratch.userRegistry()), stored);
    ASSERT_TRUE(app->close());
    EXPECT_EQ(userSettings()->openChild("KeyFrames")->getInt("DefaultInterpolation", 0), 3);
}

TEST_F(AppTest, MemorySettingsAreStoredAndApplied) {
    const auto maximum = MemorySettings::maximumTarget(MemorySettings::physicalMegabytes());
    {
        auto app = makeApp();
        ASSERT_TRUE(app->initInstance(CommandLine{}));
        // The defaults: full resolution, and the cache's budget 20 below the target.
        EXPECT_FALSE(app->context().project().imageMemory().limitPerScene);
        EXPECT_EQ(app->imageCache().budget(), app->memorySettings().cacheBudget());
        MemorySettings settings = app->memorySettings();
        settings.enableMaxMemSize = true;
        settings.srcMaxMemSize = 96.0;
        settings.targetMemUsage = 5000.0;  // above any machine's maximum
        app->setMemorySettings(settings);
        EXPECT_EQ(app->memorySettings().targetMemUsage, maximum);
        EXPECT_EQ(app->imageCache().budget(), maximum - 20);
        EXPECT_TRUE(app->context().project().imageMemory().limitPerScene);
        EXPECT_EQ(app->context().project().imageMemory().limitMegabytes, 96);
        app->exitInstance();  // saves
    }
    EXPECT_EQ(userSettings()->openChild("Config")->getDouble("SrcMaxMemSize", 0.0), 96.0);
    // A target stored above the maximum is lowered on reading.
    userSettings()->openChild("Config")->setDouble("TargetMemUsage", 100000.0);
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine{}));
    EXPECT_EQ(app->memorySettings().targetMemUsage, maximum);
    EXPECT_EQ(app->imageCache().budget(), maximum - 20);
    EXPECT_EQ(app->context().project().imageMemory().limitMegabytes, 96);
}

TEST_F(AppTest, ShutDownLeavesNoTemporaryFiles) {
    fs::create_directories(tempFolder());
    test::writeFile(tempFolder() / "pcmv0.tmp", "from a crashed run");
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine{}));
    EXPECT_FALSE(fs::exists(tempFolder() / "pcmv0.tmp"));
    const std::string a = app->tempFiles().create();
    const std::string b = app->tempFiles().create("wav");
    EXPECT_EQ(a, (tempFolder() / "pcmv0.tmp").string());
    EXPECT_TRUE(fs::exists(b));

    // A second instance meanwhile leaves the first one's files alone.
    {
        auto second = makeApp();
        ASSERT_TRUE(second->initInstance(CommandLine{}));
        EXPECT_FALSE(second->tempFolder().isFirstInstance());
        EXPECT_TRUE(fs::exists(a));
        EXPECT_TRUE(fs::exists(b));
    }
    EXPECT_TRUE(fs::exists(a));

    app->exitInstance();
    EXPECT_FALSE(app->isRunning());
    EXPECT_EQ(app->exporters(), nullptr);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(tempFolder())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{TempFolder::lockFileName()});
}

TEST_F(AppTest, StartsWithTheProjectFileNamedOnTheCommandLine) {
    const std::string path = (m_scratch.root() / "two.mzp").string();
    {
        ProjectDocument document;
        document.newProject();
        Project& project = document.context().project();
        project.setAddDefaultScene(false);
        project.reset();
        ASSERT_GE(project.addScene("", 0, 2 * kTicksPerSecond), 0);
        ASSERT_GE(project.addScene("", kTicksPerSecond, 3 * kTicksPerSecond), 0);
        ASSERT_TRUE(document.save(path));
    }
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine::parse({path})));
    EXPECT_EQ(app->context().project().sceneCount(), 2);
    EXPECT_EQ(app->context().project().projectLength(), 4 * kTicksPerSecond);
    app->exitInstance();

    // A name with no file behind it starts a new project under that name.
    auto fresh = makeApp();
    EXPECT_TRUE(fresh->initInstance(CommandLine::parse({(m_scratch.root() / "new.mzp").string()})));
    fresh->exitInstance();
}

TEST_F(AppTest, CommandLineProjectGoesThroughTheOpener) {
    ScratchHome::setInt(m_scratch.userRegistry(), "Settings", "TimeCodeType", 0);
    const std::string broken = (m_scratch.root() / "broken.mzp").string();
    std::ofstream(broken) << "not a project";
    {
        auto app = makeApp();
        const bool started = app->initInstance(CommandLine::parse({broken}));
        EXPECT_FALSE(started);
        EXPECT_EQ(app->errors().code(), 6205u);
        EXPECT_NE(app->errors().text().find(broken), std::string::npos);
        EXPECT_FALSE(app->isRunning());
    }
    // A failed start wrote nothing over the stored preferences.
    EXPECT_EQ(userSettings()->getInt("TimeCodeType", 1), 0);
    EXPECT_FALSE(userSettings()->hasValue("FrameRate"));

    auto app = makeApp();
    std::string opened;
    app->setProjectOpener([&](ProjectContext& context, const std::string& path) {
        opened = path;
        context.notify(kChangeProjectReplaced, 0);
        context.hooks().setDocumentPath(path);
        return true;
    });
    ASSERT_TRUE(app->initInstance(CommandLine::parse({"-dialog", "/p/a.mzp"})));
    EXPECT_EQ(opened, "/p/a.mzp");
    EXPECT_EQ(app->documentPath(), "/p/a.mzp");
    EXPECT_TRUE(app->dialogMode());
    EXPECT_FALSE(app->launchWizardAtStartup());
}

TEST_F(AppTest, StateSettersBroadcastOnlyChanges) {
    auto app = makeApp();
    ASSERT_TRUE(app->initInstance(CommandLine{}));
    CodeLog log;
    app->context().addListener(&log);

    app->setTimeDisplay(270'000, 1);
    app->setTimeDisplay(0, 1);  // 0 stands for hundredths
    EXPECT_EQ(log.count(kChangeTimeDisplay), 0);
    app->setTimeDisplay(1'080'000, 1);
    EXPECT_EQ(log.count(kChangeTimeDisplay), 1);

    app->setSceneTime(false);  // project edit mode: no broadcast
    EXPECT_EQ(log.count(kChangeTimeDisplay), 1);

    app->context().project().selectScene(0);
    EXPECT_EQ(app->editMode(), CPanZoomApp::kEditScene);
    EXPECT_EQ(log.count(kChangeEditMode), 1);
    app->setSceneTime(true);
    EXPECT_EQ(log.count(kChangeTimeDisplay), 2);
    app->setEditMode(CPanZoomApp::kEditScene);
    EXPECT_EQ(log.count(kChangeEditMode), 1);

    app->setAppState(4);
    app->setAppState(4);
    EXPECT_EQ(log.count(kChangeAppState), 2);

    ASSERT_TRUE(app->newProject());
    EXPECT_EQ(app->editMode(), CPanZoomApp::kEditProject);
    app->context().removeListener(&log);
}

TEST_F(AppTest, UndoMenuTexts) {
    auto app = makeApp();
    app->context().hooks().showUndoNames(std::string("Scene Added"), std::nullopt);
    EXPECT_EQ(app->undoMenuText(), "&Undo Scene Added\tCtrl+Z");
    EXPECT_TRUE(app->canUndo());
    EXPECT_FALSE(app->canRedo());
    app->context().hooks().showUndoNames(std::nullopt, std::string("Marker Moved"));
    EXPECT_EQ(app->redoMenuText(), "&Redo Marker Moved\tCtrl+Y");
    EXPECT_FALSE(app->canUndo());
}

TEST_F(AppTest, AKeyframeEditBecomesOneUndoStep) {
    auto app = makeApp();
    ASSERT_TRUE(app->newProject());
    EXPECT_FALSE(app->canUndo());
    Scene& scene = *app->context().project().sceneAt(0);
    const float before = scene.evaluate(PosX, 0.5f);
    for (float value : {0.1f, 0.2f, 0.3f}) {
        KeyframeDesc key;
        key.value = value;
        key.time = 0.5f;
        key.mask = KF_VALUE | KF_TIME;
        app->pendingUndo().noteKeySet(scene.setKeyAtTime(PosX, 0.5f, key));
    }
    app->finishEdit();
    EXPECT_EQ(app->undoMenuText(), "&Undo Keyframe Added\tCtrl+Z");
    ASSERT_TRUE(app->undo());
    EXPECT_FALSE(app->canUndo());
    EXPECT_EQ(app->redoMenuText(), "&Redo Keyframe Added\tCtrl+Y");
    EXPECT_FLOAT_EQ(app->context().project().sceneAt(0)->evaluate(PosX, 0.5f), before);
}

}  // namespace
}  // namespace pm
