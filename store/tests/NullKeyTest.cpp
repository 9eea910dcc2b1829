#include <gtest/gtest.h>

#include <cstring>

#include "store/NullKey.h"

namespace pm {
namespace {

TEST(NullKeyTest, ReadsGiveDefaultsAndWritesFail) {
    StoreKeyPtr k = NullKey::create();
    EXPECT_EQ(k->typeCode(), StoreKey::kTypeNull);
    EXPECT_TRUE(k->isReadOnly());
    EXPECT_EQ(k->getInt("x", 42), 42);
    EXPECT_EQ(k->getInt64("x", -1), -1);
    EXPECT_EQ(k->getDouble("x", 2.5), 2.5);
    EXPECT_EQ(k->readString("x", "dflt"), "dflt");
    const unsigned char fallback[3] = {1, 2, 3};
    unsigned char out[3] = {};
    EXPECT_EQ(k->getRaw(ValueType::Binary, "x", out, 3, fallback), -1);
    EXPECT_EQ(std::memcmp(out, fallback, 3), 0);
    EXPECT_EQ(k->getCompressed("x", out, 3, fallback), -1);
    Guid g;
    EXPECT_EQ(k->getGuid("x", g, Guid{7, 0, 0, {}}), 0);
    EXPECT_EQ(g.data1, 7u);
    EXPECT_EQ(k->hasValue("x"), 1);
    EXPECT_EQ(k->valueSize("x"), -1);
    char name[8];
    EXPECT_FALSE(k->childName(0, name, sizeof name));
    EXPECT_FALSE(k->valueName(0, name, sizeof name));
    EXPECT_FALSE(k->setInt("x", 1));
    EXPECT_FALSE(k->deleteValue("x"));
    EXPECT_FALSE(k->deleteChild("x"));
    EXPECT_TRUE(k->createGuard().empty());
    // Opening anything gives another null key; creating a path gives nothing.
    StoreKeyPtr child = k->openPath("a\\b");
    ASSERT_TRUE(child);
    EXPECT_EQ(child->typeCode(), StoreKey::kTypeNull);
    EXPECT_TRUE(k->openChild("a"));
    EXPECT_TRUE(k->createChild("a"));
    EXPECT_FALSE(k->createPath("a"));
    EXPECT_FALSE(k->createChildIfWritable("a"));
}

}  // namespace
}  // namespace pm
