#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/detail/InstallHelper.h"

namespace pm {
namespace {

class FakeFolders : public PlatformFolders {
public:
    std::optional<std::string> documents;
    std::optional<std::string> sharedData;

    std::optional<std::string> documentsFolder() const override { return documents; }
    std::optional<std::string> sharedDataFolder() const override { return sharedData; }
};

class FakeRuntime : public DirectXRuntime {
public:
    std::optional<DirectXVersion> reported;
    bool direct3D9 = false;

    std::optional<DirectXVersion> diagnosticVersion() override { return reported; }
    bool hasDirect3D9Library() override { return direct3D9; }
};

class FakeLoader : public SetupLibraryLoader {
public:
    std::optional<int> result;
    std::string libraryPath;
    std::uint32_t flags = 0;

    std::optional<int> runSetup(const char* path, const char*, std::uint32_t setupFlags) override {
        libraryPath = path ? path : "";
        flags = setupFlags;
        return result;
    }
};

struct Services {
    FakeFolders folders;
    FakeRuntime runtime;
    FakeLoader loader;
    InstallHelper helper{folders, runtime, loader};
};

struct VersionCase {
    std::optional<DirectXVersion> reported;
    bool direct3D9;
    std::uint32_t number;
    const char* text;
    int check;
};

TEST(InstallHelperTest, DirectXVersionNumberTextAndCheck) {
    const VersionCase cases[] = {
        {DirectXVersion{9, 0, 'c'}, false, 0x090003, "9.0c", 1},
        {DirectXVersion{9, 0, 'b'}, false, 0x090002, "9.0b", 1},
        {DirectXVersion{9, 0, 'a'}, false, 0x090001, "9.0a", 0},
        {DirectXVersion{9, 0, 'C'}, true, 0x090003, "9.0c", 1},
        {DirectXVersion{8, 1, 'z'}, false, 0x08011A, "8.1z", 0},
        {DirectXVersion{11, 0, '\0'}, false, 0x0B0000, "11.0", 1},
        // Filler where a runtime has no letter must not count as one.
        {DirectXVersion{9, 0, ' '}, false, 0x090000, "9.0", 0},
        // Found only through the Direct3D 9 library: 9.0 without a letter, below 9.0b.
        {std::nullopt, true, 0x090000, "9.0", 0},
        {std::nullopt, false, 0, "0.0", 0},
    };
    for (const auto& c : cases) {
        Services s;
        s.runtime.reported = c.reported;
        s.runtime.direct3D9 = c.direct3D9;
        char text[30];
        std::memset(text, 'x', sizeof(text));
        EXPECT_EQ(s.helper.directXVersion(text, sizeof(text)), c.number) << c.text;
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(s.helper.checkDirectXVersion(), c.check) << c.text;
    }
}

TEST(InstallHelperTest, DirectXVersionTextIsCutToTheBuffer) {
    Services s;
    s.runtime.reported = DirectXVersion{9, 0, 'c'};
    char text[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(s.helper.directXVersion(text, 3), 0x090003u);
    EXPECT_STREQ(text, "9.");
    EXPECT_EQ(text[3], 'x');
    EXPECT_EQ(s.helper.directXVersion(text, 0), 0x090003u);
    EXPECT_EQ(s.helper.directXVersion(nullptr, 30), 0x090003u);
}

TEST(InstallHelperTest, FolderPathWrittenOnlyWhenItFits) {
    Services s;
    char path[InstallHelper::kFolderPathSize];
    const std::string longest(InstallHelper::kFolderPathSize - 1, 'a');

    s.folders.documents = longest;
    ASSERT_EQ(s.helper.getFolderPath(0, path), 1);
    EXPECT_EQ(std::string(path), longest);

    std::memset(path, 'x', sizeof(path));
    s.folders.documents = longest + "a";
    EXPECT_EQ(s.helper.getFolderPath(0, path), 0);
    EXPECT_EQ(path[0], 'x');
    EXPECT_EQ(path[sizeof(path) - 1], 'x');

    s.folders.sharedData = "/srv/share";
    EXPECT_EQ(s.helper.getFolderPath(1, nullptr), 0);
    ASSERT_EQ(s.helper.getFolderPath(1, path), 1);
    EXPECT_STREQ(path, "/srv/share");

    s.folders.sharedData.reset();
    std::memset(path, 'x', sizeof(path));
    EXPECT_EQ(s.helper.getFolderPath(1, path), 0);
    EXPECT_EQ(path[0], 'x');
}

TEST(InstallHelperTest, InstallMapsSetupResults) {
    const struct {
        std::optional<int> setup;
        int expected;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {-1, 2}, {-9, 2}, {std::nullopt, 0}};
    for (const auto& c : cases) {
        Services s;
        s.loader.result = c.setup;
        EXPECT_EQ(s.helper.directXInstall("/media/redist", "/opt/dsetup.so"), c.expected)
            << c.setup.value_or(12345);
        EXPECT_EQ(s.loader.libraryPath, "/opt/dsetup.so");
        EXPECT_EQ(s.loader.flags, 0x10018u);
    }
}

TEST(InstallHelperTest, ParseVersionReadsLikeScanf) {
    const struct {
        const char* text;
        std::array<int, 3> parts;
    } cases[] = {
        {"2.0.10", {2, 0, 10}},
        {" 1. 2. +3", {1, 2, 3}},
        {"1 .2.3", {1, 0, 0}},
        {"4.5", {4, 5, 0}},
        {"7", {7, 0, 0}},
        {"7.x.3", {7, 0, 0}},
        {"1.2.3.4", {1, 2, 3}},
        {"-1.-2.-3", {-1, -2, -3}},
        {"v1.2.3", {0, 0, 0}},
        {"", {0, 0, 0}},
        {nullptr, {0, 0, 0}},
        {"99999999999999999999.2147483648.-2147483649", {2147483647, 2147483647, -2147483647 - 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallHelper::parseVersion(c.text), c.parts) << (c.text ? c.text : "(null)");
    }
}

}  // namespace
}  // namespace pm
