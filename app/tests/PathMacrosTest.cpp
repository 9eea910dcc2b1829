#include <gtest/gtest.h>

#include "AppTestEnvironment.h"
#include "app/CommandLine.h"
#include "app/PathMacros.h"
#include "app/RememberedFolders.h"
#include "app/SystemFolders.h"

namespace pm {
namespace {

using test::ScratchHome;

TEST(PathMacrosTest, ExpandsOnlyALeadingKnownMacroWithoutRegardToCase) {
    PathMacros macros;
    macros.set("TMP", "/scratch/tmp");
    macros.set("PRG", "/opt/pictomove");
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"{TMP}/a.txt", "/scratch/tmp/a.txt"},
        {"{tmp}\\a.txt", "/scratch/tmp/a.txt"},
        {"{Prg}\\plugins\\x.mzx", "/opt/pictomove/plugins/x.mzx"},
        {"{PRG}", "/opt/pictomove"},
        {"x{TMP}/a.txt", "x{TMP}/a.txt"},
        {"/home/{TMP}", "/home/{TMP}"},
        {"{NOPE}/a", "{NOPE}/a"},
        {"{TMP/a", "{TMP/a"},
        {"{TM}/a", "{TM}/a"},
        {"{TMPX}/a", "{TMPX}/a"},
        {"/plain\\name", "/plain\\name"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(macros.expand(c.path), c.expected) << c.path;
    }
}

TEST(PathMacrosTest, LaterSettingReplacesEarlierAndTrailingSeparatorIsDropped) {
    PathMacros macros;
    macros.set("TMP", "/first");
    macros.set("USR", "/docs");
    macros.set("tmp", "/second/");
    EXPECT_EQ(macros.entries().size(), 2u);
    EXPECT_EQ(macros.entries().back().second, "/second");
    EXPECT_EQ(macros.expand("{TMP}/a"), "/second/a");

    macros.set("CFG", "/etc/pm\\");
    EXPECT_EQ(macros.expand("{CFG}/x"), "/etc/pm/x");
    macros.set("ROOT", "/");
    EXPECT_EQ(*macros.value("root"), "/");
}

TEST(PathMacrosTest, PathFunctionsExpandFirst) {
    ScratchHome scratch;
    PathMacros macros;
    macros.set("USR", scratch.home().string());
    EXPECT_FALSE(macros.fileExists("{USR}/a/b/c"));
    ASSERT_TRUE(macros.createFolderPath("{USR}/a/b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.home() / "a/b/c"));
    EXPECT_TRUE(macros.createFolderPath("{USR}/a/b/c"));

    test::writeFile(scratch.home() / "a/f.txt", "12345");
    EXPECT_EQ(macros.fileSize("{usr}/a/f.txt"), 5);
    EXPECT_GT(macros.fileTime("{USR}/a/f.txt"), 0);
    EXPECT_EQ(macros.fileSize("{USR}/a/missing"), 0);
    EXPECT_EQ(macros.fileTime("{USR}/a/missing"), 0);
    EXPECT_TRUE(macros.freeSpace("{USR}").has_value());
    // A file in the way stops the walk.
    EXPECT_FALSE(macros.createFolderPath("{USR}/a/f.txt/d"));
}

TEST(SystemFoldersTest, ReadsUserDirsFile) {
    const std::string text =
        "# comment\n"
        "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
        "XDG_PICTURES_DIR=\"/data/pics/\"\n"
        "XDG_MUSIC_DIR=\"relative\"\n"
        "XDG_VIDEOS_DIR=\"$HOMEX/v\"\n";
    EXPECT_EQ(SystemFolders::parseUserDir(text, "XDG_DOCUMENTS_DIR", "/home/u"),
              "/home/u/Dokumente");
    EXPECT_EQ(SystemFolders::parseUserDir(text, "XDG_PICTURES_DIR", "/home/u"), "/data/pics");
    EXPECT_EQ(SystemFolders::parseUserDir(text, "XDG_MUSIC_DIR", "/home/u"), std::nullopt);
    EXPECT_EQ(SystemFolders::parseUserDir(text, "XDG_VIDEOS_DIR", "/home/u"), std::nullopt);
    EXPECT_EQ(SystemFolders::parseUserDir(text, "XDG_DESKTOP_DIR", "/home/u"), std::nullopt);
}

TEST(SystemFoldersTest, FollowsTheEnvironment) {
    ScratchHome scratch;
    EXPECT_EQ(SystemFolders::temporaryBase(), scratch.runtime().string());
    EXPECT_EQ(SystemFolders::configFolder(), (scratch.config() / "Korvane/Pictomove").string());
    EXPECT_EQ(SystemFolders::picturesFolder(), (scratch.home() / "Pictures").string());
    test::writeFile(scratch.config() / "user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(SystemFolders::picturesFolder(), (scratch.home() / "Bilder").string());
    EXPECT_EQ(SystemFolders::documentsFolder(), (scratch.home() / "Documents").string());

    ::setenv("XDG_RUNTIME_DIR", (scratch.root() / "missing").c_str(), 1);
    EXPECT_EQ(SystemFolders::temporaryBase(), "/tmp");
}

TEST(RememberedFoldersTest, DefaultsByKeyAndStoredFolders) {
    ScratchHome scratch;
    AppRegistry registry = scratch.registry();
    PathMacros macros;
    macros.set("CFG", "/cfg");
    macros.set("IMG", "/pics");
    macros.set("USR", "/docs");
    RememberedFolders folders(registry, macros);

    EXPECT_EQ(folders.folder("MotionTemplatePath"), "/cfg/Templates");
    EXPECT_EQ(folders.folder("BmpPath"), "/pics");
    EXPECT_EQ(folders.folder("PzpPath"), "/docs/Pictomove");
    EXPECT_EQ(folders.folder("SoundPath"), "/docs");
    EXPECT_EQ(folders.folder("bmppath"), "/docs");  // keys compare exactly

    ASSERT_TRUE(folders.rememberFolderOf("BmpPath", "/photos/2024/a.jpg"));
    EXPECT_EQ(folders.folder("BmpPath"), "/photos/2024");
    EXPECT_FALSE(folders.rememberFolderOf("SoundPath", "nofolder.wav"));
    // Kept in the user's file, so another run sees it.
    AppRegistry other = scratch.registry();
    RememberedFolders again(other, macros);
    EXPECT_EQ(again.folder("BmpPath"), "/photos/2024");
}

TEST(CommandLineTest, DialogModeNeedsSwitchAndFile) {
    struct Case {
        std::vector<std::string> arguments;
        std::string file;
        bool dialogSwitch;
        bool dialogMode;
    };
    const Case cases[] = {
        {{}, "", false, false},
        {{"a.mzp"}, "a.mzp", false, false},
        {{"-DIALOG"}, "", true, false},
        {{"-dialog", "a.mzp"}, "a.mzp", true, true},
        {{"a.mzp", "--Dialog"}, "a.mzp", true, true},
        {{"-x", "a.mzp", "b.mzp"}, "a.mzp", false, false},
        {{"--", "-dialog"}, "-dialog", false, false},
    };
    for (const auto& c : cases) {
        const CommandLine line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.fileName, c.file);
        EXPECT_EQ(line.dialogSwitch, c.dialogSwitch);
        EXPECT_EQ(line.dialogMode(), c.dialogMode);
    }
}

}  // namespace
}  // namespace pm
