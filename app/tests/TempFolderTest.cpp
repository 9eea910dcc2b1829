#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppTestEnvironment.h"
#include "app/TempFileList.h"
#include "app/TempFolder.h"

namespace pm {
namespace {

namespace fs = std::filesystem;
using test::ScratchHome;

TEST(TempFolderTest, FolderNameDependsOnWhoMayWriteTheBase) {
    ScratchHome scratch;
    const fs::path shared = scratch.root() / "shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 01777);
    EXPECT_EQ(TempFolder::folderFor(scratch.runtime()), scratch.runtime() / "Pictomove");
    EXPECT_EQ(TempFolder::folderFor(shared), shared / ("Pictomove-" + std::to_string(::geteuid())));
}

TEST(TempFolderTest, OnlyTheFirstInstanceEmptiesTheFolder) {
    ScratchHome scratch;
    const fs::path folder = scratch.runtime() / "Pictomove";
    fs::create_directories(folder / "sub");
    test::writeFile(folder / "left-over.tmp", "x");

    TempFolder first;
    ASSERT_TRUE(first.acquire(folder));
    EXPECT_TRUE(first.isFirstInstance());
    EXPECT_FALSE(fs::exists(folder / "left-over.tmp"));
    EXPECT_TRUE(fs::is_directory(folder / "sub"));  // only files go

    test::writeFile(folder / "pcmv0.tmp", "in use");
    {
        TempFolder second;
        ASSERT_TRUE(second.acquire(folder));
        EXPECT_FALSE(second.isFirstInstance());
        EXPECT_TRUE(fs::exists(folder / "pcmv0.tmp"));
    }
    // The first still runs: a third instance also leaves the files alone.
    TempFolder third;
    ASSERT_TRUE(third.acquire(folder));
    EXPECT_FALSE(third.isFirstInstance());
    third.release();

    first.release();
    TempFolder afterAll;
    ASSERT_TRUE(afterAll.acquire(folder));
    EXPECT_TRUE(afterAll.isFirstInstance());
    EXPECT_FALSE(fs::exists(folder / "pcmv0.tmp"));
}

TEST(TempFolderTest, AnotherProcessDoesNotEmptyTheFolderWhileTheFirstRuns) {
    ScratchHome scratch;
    const fs::path folder = scratch.runtime() / "Pictomove";
    TempFolder first;
    ASSERT_TRUE(first.acquire(folder));
    test::writeFile(folder / "pcmv0.tmp", "in use");

    auto runSecondInstance = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            TempFolder second;
            const bool ok = second.acquire(folder);
            ::_exit(!ok ? 2 : second.isFirstInstance() ? 1 : 0);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(runSecondInstance(), 0);
    EXPECT_TRUE(fs::exists(folder / "pcmv0.tmp"));

    first.release();
    EXPECT_EQ(runSecondInstance(), 1);
    EXPECT_FALSE(fs::exists(folder / "pcmv0.tmp"));
}

TEST(TempFolderTest, RefusesAFolderThatIsNotAFolder) {
    ScratchHome scratch;
    test::writeFile(scratch.runtime() / "file", "x");
    fs::create_directories(scratch.root() / "elsewhere");
    fs::create_directory_symlink(scratch.root() / "elsewhere", scratch.runtime() / "link");
    TempFolder folder;
    std::string why;
    EXPECT_FALSE(folder.acquire(scratch.runtime() / "file", &why));
    EXPECT_NE(why.find("file"), std::string::npos);
    EXPECT_FALSE(folder.acquire(scratch.runtime() / "link", &why));
    EXPECT_FALSE(folder.acquire(scratch.root() / "missing/deeper", &why));
    EXPECT_FALSE(folder.isHeld());
}

TEST(TempFileListTest, NamesCountUpAndSkipExistingFiles) {
    ScratchHome scratch;
    const fs::path folder = scratch.runtime();
    test::writeFile(folder / "pcmv0.tmp", "someone else's");
    std::vector<std::string> made;
    {
        TempFileList list(folder);
        made.push_back(list.create());
        made.push_back(list.create("png"));
        made.push_back(list.create(".wav"));
        test::writeFile(folder / "pcmv3.tmp", "x");
        made.push_back(list.create());
        const std::vector<std::string> expected = {
            (folder / "pcmv1.tmp").string(), (folder / "pcmv2.png").string(),
            (folder / "pcmv3.wav").string(), (folder / "pcmv4.tmp").string()};
        EXPECT_EQ(made, expected);
        EXPECT_EQ(list.files(), expected);
        for (const auto& file : made) {
            EXPECT_TRUE(fs::exists(file));
        }
        // A second list counts on its own and never takes a name in use.
        TempFileList other(folder);
        EXPECT_EQ(other.create(), (folder / "pcmv2.tmp").string());
    }
    for (const auto& file : made) {
        EXPECT_FALSE(fs::exists(file)) << file;
    }
    EXPECT_TRUE(fs::exists(folder / "pcmv0.tmp"));
    EXPECT_TRUE(fs::exists(folder / "pcmv3.tmp"));
}

TEST(TempFileListTest, FailsWithoutAUsableFolder) {
    ScratchHome scratch;
    TempFileList list(scratch.root() / "missing");
    EXPECT_EQ(list.create(), "");
    EXPECT_EQ(list.nextNumber(), 0u);
    TempFileList unnamed;
    EXPECT_EQ(unnamed.create(), "");
    TempFileList sneaky(scratch.runtime());
    EXPECT_EQ(sneaky.create("/../../x"), "");
}

}  // namespace
}  // namespace pm
