#include <gtest/gtest.h>

#include "app/PixelSettings.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

TEST(PixelSettings, ReadsOnlyA32BitOverride) {
    MemoryStorage storage;
    ASSERT_TRUE(storage.open());
    StoreKeyPtr root = storage.root();
    ASSERT_TRUE(root);
    EXPECT_EQ(readCpuOptions(*root), std::nullopt);  // no key at all
    StoreKeyPtr perfKit = root->createPath("Software\\Korvane\\PerfKit");
    ASSERT_TRUE(perfKit);
    perfKit->setString("CPUOptions", "512");
    EXPECT_EQ(readCpuOptions(*root), std::nullopt);  // wrong type: no override
    perfKit->deleteValue("CPUOptions");
    perfKit->setInt("CPUOptions", 512);
    EXPECT_EQ(readCpuOptions(*root), 512u);
    EXPECT_EQ(CpuOptions::fromRegistryValue(readCpuOptions(*root)).applyTo({}).processorCount, 2);
}

}  // namespace
}  // namespace pm
