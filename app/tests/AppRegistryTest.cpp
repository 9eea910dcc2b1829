#include <gtest/gtest.h>

#include "AppTestEnvironment.h"
#include "app/AppRegistry.h"

namespace pm {
namespace {

using Root = AppRegistry::Root;
using test::ScratchHome;

TEST(AppRegistryTest, ValuesOfAnotherTypeReadAsNone) {
    ScratchHome scratch;
    ScratchHome::setString(scratch.machineRegistry(), "", "DestDir", "/opt/pm");
    ScratchHome::setInt(scratch.machineRegistry(), "", "VideoFormat", 2);
    ScratchHome::setDouble(scratch.machineRegistry(), "", "Version", 2.5);
    ScratchHome::setInt(scratch.userRegistry(), "ProjWiz", "PWLaunchStartup", 0);
    const AppRegistry registry = scratch.registry();

    EXPECT_EQ(registry.readString(Root::Machine, {}, "DestDir"), "/opt/pm");
    EXPECT_EQ(registry.readString(Root::Machine, {}, "destdir"), "/opt/pm");
    EXPECT_EQ(registry.readDword(Root::Machine, {}, "DestDir"), std::nullopt);
    EXPECT_EQ(registry.readDword(Root::Machine, {}, "VideoFormat"), 2u);
    EXPECT_EQ(registry.readString(Root::Machine, {}, "VideoFormat"), std::nullopt);
    EXPECT_EQ(registry.readString(Root::Machine, {}, "Version"), std::nullopt);
    EXPECT_EQ(registry.readDword(Root::Machine, {}, "Missing"), std::nullopt);
    EXPECT_EQ(registry.readDword(Root::User, "ProjWiz", "PWLaunchStartup"), 0u);
    EXPECT_EQ(registry.readDword(Root::Machine, "ProjWiz", "PWLaunchStartup"), std::nullopt);
    EXPECT_EQ(registry.readDword(Root::User, "NoSuchKey", "PWLaunchStartup"), std::nullopt);
}

TEST(AppRegistryTest, UserValuesAreWrittenAtOnce) {
    ScratchHome scratch;
    AppRegistry registry = scratch.registry();
    ASSERT_TRUE(registry.writeString("GUI\\FilePaths", "BmpPath", "/pics"));
    ASSERT_TRUE(registry.writeDword("ProjWiz", "PWLaunchStartup", 7));
    EXPECT_NE(test::readFile(scratch.userRegistry()).find("/pics"), std::string::npos);

    const AppRegistry other = scratch.registry();
    EXPECT_EQ(other.readString(Root::User, "gui\\filepaths", "BmpPath"), "/pics");
    EXPECT_EQ(other.readDword(Root::User, "ProjWiz", "PWLaunchStartup"), 7u);

    ASSERT_TRUE(registry.deleteUserValue("ProjWiz", "PWLaunchStartup"));
    EXPECT_EQ(other.readDword(Root::User, "ProjWiz", "PWLaunchStartup"), std::nullopt);
    EXPECT_FALSE(registry.deleteUserValue("ProjWiz", "PWLaunchStartup"));
}

TEST(AppRegistryTest, DamagedFileIsKeptAndNamed) {
    ScratchHome scratch;
    const std::string garbage = "this is not a registry file\n\x01\x02";
    test::writeFile(scratch.userRegistry(), garbage);
    AppRegistry registry = scratch.registry();
    EXPECT_EQ(registry.readString(Root::User, {}, "TempDir"), std::nullopt);
    EXPECT_NE(registry.lastError().find(scratch.userRegistry().string()), std::string::npos);
    EXPECT_FALSE(registry.writeString({}, "TempDir", "/x"));
    EXPECT_EQ(test::readFile(scratch.userRegistry()), garbage);
}

}  // namespace
}  // namespace pm
