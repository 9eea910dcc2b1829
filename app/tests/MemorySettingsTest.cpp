#include <gtest/gtest.h>

#include "app/MemorySettings.h"
#include "store/MemoryStorage.h"
#include "store/NullKey.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

TEST(MemorySettingsTest, DefaultAndMaximumTargetFollowPhysicalMemory) {
    struct Case {
        std::uint64_t physical;
        int target;
        int maximum;
    };
    const Case cases[] = {
        {4096, 300, 512}, {750, 300, 512}, {749, 240, 512}, {512, 240, 409},
        {500, 240, 400},  {499, 200, 399}, {350, 200, 280}, {349, 160, 279},
        {256, 160, 204},  {255, 128, 204}, {128, 128, 128}, {0, 128, 128},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MemorySettings::defaultTarget(c.physical), c.target) << c.physical;
        EXPECT_EQ(MemorySettings::maximumTarget(c.physical), c.maximum) << c.physical;
    }
    EXPECT_GT(MemorySettings::physicalMegabytes(), 0u);
}

TEST(MemorySettingsTest, ReadsAndWritesTheConfigSection) {
    MemoryStorage storage;
    ASSERT_TRUE(storage.open());
    StoreKeyPtr settings = storage.root()->createChild("Settings");
    ASSERT_TRUE(settings);

    // Nothing stored: the defaults of the machine.
    MemorySettings loaded;
    loaded.load(*settings, 512);
    EXPECT_EQ(loaded, MemorySettings::defaults(512));
    EXPECT_EQ(loaded.cacheBudget(), 220);
    EXPECT_FALSE(loaded.imageMemory().limitPerScene);

    MemorySettings saved;
    saved.enableMaxMemSize = true;
    saved.srcMaxMemSize = 128.0;
    saved.targetMemUsage = 400.0;
    saved.save(*settings);
    EXPECT_EQ(settings->openChild("Config")->getInt("EnableMaxMemSize", -1), 1);
    loaded.load(*settings, 512);
    EXPECT_EQ(loaded, saved);
    EXPECT_TRUE(loaded.imageMemory().limitPerScene);
    EXPECT_EQ(loaded.imageMemory().limitMegabytes, 128);
    EXPECT_EQ(loaded.cacheBudget(), 380);

    // A target stored above this machine's maximum is lowered to it.
    loaded.load(*settings, 400);
    EXPECT_EQ(loaded.targetMemUsage, 320.0);

    // An empty node (restoring the defaults) reads as the defaults.
    StoreKeyPtr empty = NullKey::create();
    loaded.load(*empty, 512);
    EXPECT_EQ(loaded, MemorySettings::defaults(512));
}

}  // namespace
}  // namespace pm
