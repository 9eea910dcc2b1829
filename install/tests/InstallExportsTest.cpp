#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "install/InstallExports.h"
#include "install/tests/TestEnvironment.h"

namespace pm {
namespace {

namespace fs = std::filesystem;

template <typename Function>
Function lookUp(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    Function function = nullptr;
    if (symbol != nullptr) {
        std::memcpy(&function, &symbol, sizeof(function));
    }
    return function;
}

TEST(InstallExportsTest, ExportsTheFourFunctionsByNameOnly) {
    void* library = dlopen(PM_INSTALL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name :
         {"StpGetFolderPath", "CheckDirectXVersion", "CompareVersionStrings", "DirectXInstall"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    // The internals stay hidden from the setup program.
    EXPECT_EQ(dlsym(library, "_ZN2pm13InstallHelper21compareVersionStringsEPKcS2_"), nullptr);
    auto compare = lookUp<int (*)(const char*, const char*)>(library, "CompareVersionStrings");
    ASSERT_NE(compare, nullptr);
    EXPECT_EQ(compare("2.0.10", "2.0.9"), 1);
    dlclose(library);
}

TEST(InstallExportsTest, CompareVersionStrings) {
    const struct {
        const char* first;
        const char* second;
        int expected;
    } cases[] = {
        {"2.0.10", "2.0.9", 1},  // numbers, not text
        {"1.2.3", "1.2.3", 0},  {"1.10.0", "1.9.5", 1},  {"3.0.0", "2.99.99", 1},
        {"1.2", "1.2.0", 0},    {"1.2", "1.2.1", -1},    {"2", "1.9.9", 1},
        {"", "0.0.0", 0},       {"0.0.1", "", 1},        {nullptr, "0.0.0", 0},
        {"1.0.1", nullptr, 1},  {"-1.0.0", "0.0.0", -1}, {"99999999999.0.0", "2147483647.0.0", 0},
    };
    for (const auto& c : cases) {
        const std::string label =
            std::string(c.first ? c.first : "(null)") + " vs " + (c.second ? c.second : "(null)");
        EXPECT_EQ(CompareVersionStrings(c.first, c.second), c.expected) << label;
        EXPECT_EQ(CompareVersionStrings(c.second, c.first), -c.expected) << label << " swapped";
    }
}

TEST(InstallExportsTest, CheckDirectXVersionFindsNoRuntimeHere) {
    EXPECT_EQ(CheckDirectXVersion(), 0);
}

class FolderPathTest : public ::testing::Test {
protected:
    void SetUp() override { std::memset(m_path, 'x', sizeof(m_path)); }
    bool untouched() const {
        for (char c : m_path) {
            if (c != 'x') {
                return false;
            }
        }
        return true;
    }

    test::IsolatedHome m_home;
    char m_path[PM_FOLDER_PATH_SIZE];
};

TEST_F(FolderPathTest, DocumentsFromUserDirs) {
    test::writeFile(m_home.home() / ".config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    fs::create_directories(m_home.home() / "Dokumente");
    ASSERT_EQ(StpGetFolderPath(PM_FOLDER_DOCUMENTS, m_path), 1);
    EXPECT_EQ(std::string(m_path), (m_home.home() / "Dokumente").string());
}

TEST_F(FolderPathTest, DocumentsFallBackToHomeDocuments) {
    EXPECT_EQ(StpGetFolderPath(PM_FOLDER_DOCUMENTS, m_path), 0);
    EXPECT_TRUE(untouched());

    fs::create_directories(m_home.home() / "Documents");
    ASSERT_EQ(StpGetFolderPath(PM_FOLDER_DOCUMENTS, m_path), 1);
    EXPECT_EQ(std::string(m_path), (m_home.home() / "Documents").string());
}

TEST_F(FolderPathTest, SharedDataFromDataDirs) {
    const fs::path data = m_home.home() / "data";
    fs::create_directories(data);
    m_home.environment().set("XDG_DATA_DIRS", data.string() + ":/usr/share");
    ASSERT_EQ(StpGetFolderPath(PM_FOLDER_SHARED_DATA, m_path), 1);
    EXPECT_EQ(std::string(m_path), data.string());

    m_home.environment().unset("XDG_DATA_DIRS");
    ASSERT_EQ(StpGetFolderPath(PM_FOLDER_SHARED_DATA, m_path), 1);
    EXPECT_STREQ(m_path, "/usr/share");
}

TEST_F(FolderPathTest, OtherIdsReturnZeroAndLeaveTheBuffer) {
    fs::create_directories(m_home.home() / "Documents");
    for (int which : {2, -1, 3, 5, 0x28}) {
        EXPECT_EQ(StpGetFolderPath(which, m_path), 0) << which;
        EXPECT_TRUE(untouched()) << which;
    }
    EXPECT_EQ(StpGetFolderPath(PM_FOLDER_DOCUMENTS, nullptr), 0);
}

TEST_F(FolderPathTest, PathTooLongForTheBufferIsNotWritten) {
    fs::path deep = m_home.home();
    while (deep.string().size() < PM_FOLDER_PATH_SIZE) {
        deep /= std::string(40, 'd');
    }
    fs::create_directories(deep);
    m_home.environment().set("XDG_DATA_DIRS", deep.string());
    EXPECT_EQ(StpGetFolderPath(PM_FOLDER_SHARED_DATA, m_path), 0);
    EXPECT_TRUE(untouched());
}

// The stand-in setup library stays loaded across the test, so what DirectXInstall's own load
// sees is the state set here.
class DirectXInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Global, so a call that wrongly searched the running program would find it.
        m_library = dlopen(PM_TEST_SETUP_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(m_library, nullptr) << dlerror();
        setResult = lookUp<void (*)(int)>(m_library, "fakeSetupSetResult");
        calls = lookUp<int (*)()>(m_library, "fakeSetupCalls");
        owner = lookUp<void* (*)()>(m_library, "fakeSetupOwner");
        root = lookUp<const char* (*)()>(m_library, "fakeSetupRoot");
        flags = lookUp<std::uint32_t (*)()>(m_library, "fakeSetupFlags");
        ASSERT_TRUE(setResult && calls && owner && root && flags);
    }
    void TearDown() override {
        if (m_library != nullptr) {
            dlclose(m_library);
        }
    }

    void* m_library = nullptr;
    void (*setResult)(int) = nullptr;
    int (*calls)() = nullptr;
    void* (*owner)() = nullptr;
    const char* (*root)() = nullptr;
    std::uint32_t (*flags)() = nullptr;
};

TEST_F(DirectXInstallTest, MapsTheSetupResult) {
    const struct {
        int setup;
        int expected;
    } cases[] = {{0, 0}, {1, 1}, {-1, 2}, {-9, 2}, {2, 2}, {100, 2}};
    const std::string redist = "/media/cd/DirectX";
    for (const auto& c : cases) {
        setResult(c.setup);
        const int before = calls();
        EXPECT_EQ(DirectXInstall(redist.c_str(), PM_TEST_SETUP_LIBRARY), c.expected) << c.setup;
        EXPECT_EQ(calls(), before + 1);
        EXPECT_EQ(flags(), 0x10018u);
        EXPECT_EQ(owner(), nullptr);
        ASSERT_NE(root(), nullptr);
        EXPECT_STREQ(root(), "/media/cd/DirectX");
    }
    EXPECT_EQ(redist, "/media/cd/DirectX");  // the library wrote into its copy only

    setResult(0);
    EXPECT_EQ(DirectXInstall(nullptr, PM_TEST_SETUP_LIBRARY), 0);
    EXPECT_EQ(root(), nullptr);
}

TEST_F(DirectXInstallTest, UnusableLibraryReturnsZeroWithoutCalling) {
    test::TemporaryFolder folder;
    const fs::path notALibrary = folder.path() / "dsetup.so";
    test::writeFile(notALibrary, "this is not a shared object\n");
    const std::string missing = (folder.path() / "missing.so").string();

    setResult(1);  // a call that got through would answer 1
    const int before = calls();
    const char* paths[] = {missing.c_str(), notALibrary.c_str(), PM_INSTALL_LIBRARY, "", nullptr};
    for (const char* path : paths) {
        EXPECT_EQ(DirectXInstall("/media/cd/DirectX", path), 0) << (path ? path : "(null)");
    }
    EXPECT_EQ(calls(), before);
}

}  // namespace
}  // namespace pm
