#include <gtest/gtest.h>

#include <filesystem>

#include "install/detail/XdgFolders.h"
#include "install/tests/TestEnvironment.h"

namespace pm {
namespace {

namespace fs = std::filesystem;

struct UserDirsCase {
    const char* text;
    std::optional<std::string> expected;
};

TEST(XdgFoldersTest, ReadsDocumentsDirFromUserDirsText) {
    const UserDirsCase cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "/h/Docs"},
        {"XDG_DOCUMENTS_DIR=\"/data/papers/\"", "/data/papers"},
        {"  XDG_DOCUMENTS_DIR = \"$HOME\"\n", "/h"},
        {"# XDG_DOCUMENTS_DIR=\"$HOME/Old\"\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n", std::nullopt},
        {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", "/h/B"},
        // A later line that is not valid leaves the earlier value standing.
        {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"relative/B\"\n", "/h/A"},
        {"XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"", std::nullopt},
        {"XDG_DOCUMENTS_DIR=\"$HOME/unterminated", std::nullopt},
        {"XDG_DOCUMENTS_DIR=$HOME/Docs", std::nullopt},
        {"XDG_DOCUMENTS_DIR_OLD=\"$HOME/x\"", std::nullopt},
        {"XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"", "/h/My \"Docs\""},
        {"XDG_DOCUMENTS_DIR=\"\"", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XdgFolders::documentsDirFromUserDirs(c.text, "/h"), c.expected) << c.text;
    }
}

TEST(XdgFoldersTest, DocumentsFolderFollowsConfigHome) {
    test::IsolatedHome home;
    const fs::path config = home.home() / "elsewhere";
    home.environment().set("XDG_CONFIG_HOME", config.string());
    test::writeFile(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    fs::create_directories(home.home() / "Papers");
    fs::create_directories(home.home() / "Documents");

    EXPECT_EQ(XdgFolders().documentsFolder(), (home.home() / "Papers").string());

    // A relative XDG_CONFIG_HOME is not valid, so ~/.config is read instead.
    home.environment().set("XDG_CONFIG_HOME", "elsewhere");
    EXPECT_EQ(XdgFolders().documentsFolder(), (home.home() / "Documents").string());
    test::writeFile(home.home() / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(XdgFolders().documentsFolder(), (home.home() / "Papers").string());
}

TEST(XdgFoldersTest, SharedDataFolderIsFirstAbsoluteDataDir) {
    test::IsolatedHome home;
    const fs::path first = home.home() / "first";
    const fs::path second = home.home() / "second";
    fs::create_directories(first);
    fs::create_directories(second);

    home.environment().set("XDG_DATA_DIRS",
                           "relative/share::" + first.string() + "/:" + second.string());
    EXPECT_EQ(XdgFolders().sharedDataFolder(), first.string());

    // The first entry names the folder even when it is missing; a later one does not stand in.
    home.environment().set("XDG_DATA_DIRS",
                           (home.home() / "missing").string() + ":" + second.string());
    EXPECT_EQ(XdgFolders().sharedDataFolder(), std::nullopt);

    home.environment().set("XDG_DATA_DIRS", "relative-only");
    EXPECT_EQ(XdgFolders().sharedDataFolder(), "/usr/share");
}

}  // namespace
}  // namespace pm
