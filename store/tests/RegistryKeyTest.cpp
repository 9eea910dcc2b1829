#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "StoreFixtures.h"
#include "store/RegistryKey.h"

namespace pm {
namespace {

// Every test gets its own configuration folder; the real one is never touched.
class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    }
    void TearDown() override {
        if (m_saved) {
            ::setenv("XDG_CONFIG_HOME", m_saved->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }
    StoreKeyPtr user(bool readOnly = false) {
        std::string error;
        StoreKeyPtr key = RegistryKey::openRoot(RegistryKey::Root::User, readOnly, &error);
        EXPECT_TRUE(key) << error;
        return key;
    }

    test::TempDir m_dir;
    std::optional<std::string> m_saved;
};

TEST_F(RegistryKeyTest, UserRootLivesUnderTheConfigFolder) {
    EXPECT_EQ(RegistryKey::rootFile(RegistryKey::Root::User),
              m_dir / "Korvane" / "Pictomove" / "registry.conf");
    EXPECT_EQ(user()->typeCode(), StoreKey::kTypeRegistry);
}

TEST_F(RegistryKeyTest, TypedValuesSurviveAReopen) {
    {
        StoreKeyPtr k = user()->createPath("SOFTWARE\\Korvane\\Pictomove\\Settings");
        ASSERT_TRUE(k);
        EXPECT_TRUE(k->setInt("Int", -5));
        EXPECT_TRUE(k->setInt64("Big", 1LL << 40));
        EXPECT_TRUE(k->setDouble("Half", 0.5));
        EXPECT_TRUE(k->setString("Text", "line one\nline two = 100% \\ done"));
        EXPECT_TRUE(k->setWideString("Wide", u"\u65e5\u672c"));
        EXPECT_TRUE(k->setBinary("Bin", "\0\1\2", 3));
        EXPECT_TRUE(k->createChild("Empty key"));
    }  // the last handle writes the file
    const auto file = RegistryKey::rootFile(RegistryKey::Root::User);
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left
    StoreKeyPtr k = user(true)->openPath("software\\korvane\\pictomove\\settings");
    ASSERT_TRUE(k);
    EXPECT_EQ(k->getInt("Int", 0), -5);
    EXPECT_EQ(k->getInt64("Big", 0), 1LL << 40);
    EXPECT_EQ(k->getDouble("Half", 0), 0.5);
    EXPECT_EQ(k->readString("Text"), "line one\nline two = 100% \\ done");
    EXPECT_EQ(k->readWideString("Wide"), u"\u65e5\u672c");
    char bin[3] = {};
    EXPECT_EQ(k->getBinary("Bin", bin, 3, nullptr), 3);
    EXPECT_EQ(bin[2], 2);
    EXPECT_TRUE(k->openChild("EMPTY KEY"));
    EXPECT_FALSE(k->setInt("Int", 1));  // read-only handle
}

TEST_F(RegistryKeyTest, TypesMapOntoTheRegistryTypes) {
    StoreKeyPtr k = user();
    struct Case {
        const char* name;
        int (*write)(StoreKey&, const char*);
        ValueType type;
        std::int64_t size;
    };
    const Case cases[] = {
        {"b", [](StoreKey& s, const char* n) { return s.setBinary(n, "ab", 2); }, ValueType::Binary,
         2},
        {"i", [](StoreKey& s, const char* n) { return s.setInt(n, 1); }, ValueType::Int, 4},
        {"q", [](StoreKey& s, const char* n) { return s.setInt64(n, 1); }, ValueType::Int64, 8},
        {"d", [](StoreKey& s, const char* n) { return s.setDouble(n, 1); }, ValueType::Int64, 8},
        {"s", [](StoreKey& s, const char* n) { return s.setString(n, "abc"); }, ValueType::String,
         4},
        {"w", [](StoreKey& s, const char* n) { return s.setWideString(n, u"abc"); },
         ValueType::String, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.write(*k, c.name));
        EXPECT_EQ(k->valueType(c.name), c.type);
        EXPECT_EQ(k->valueSize(c.name), c.size);
    }
    // int64 and double share the 64-bit type; both string kinds read each other.
    EXPECT_EQ(k->getInt64("d", 0), 0x3FF0000000000000LL);
    EXPECT_EQ(k->readString("w"), "abc");
    EXPECT_EQ(k->readWideString("s"), u"abc");
    EXPECT_EQ(k->getInt("q", 9), 9);
    // Unlike the file store, the registry lets a value change its type.
    EXPECT_TRUE(k->setString("i", "now text"));
    EXPECT_EQ(k->valueType("i"), ValueType::String);
}

TEST_F(RegistryKeyTest, NamesIgnoreCaseButKeepIt) {
    StoreKeyPtr k = user();
    ASSERT_TRUE(k->createChild("Layouts"));
    EXPECT_EQ(k->createChild("LAYOUTS").get() != nullptr, true);
    k->setInt("Value", 1);
    EXPECT_TRUE(k->setInt("VALUE", 2));
    EXPECT_EQ(k->getInt("value", 0), 2);
    char name[32];
    ASSERT_TRUE(k->childName(0, name, sizeof name));
    EXPECT_STREQ(name, "Layouts");
    EXPECT_FALSE(k->childName(1, name, sizeof name));
    ASSERT_TRUE(k->valueName(0, name, sizeof name));
    EXPECT_STREQ(name, "Value");
    EXPECT_FALSE(k->renameValue("value", "Other") == 0);
    EXPECT_TRUE(k->renameChild("layouts", "LAYOUTS"));  // a change of case only
}

TEST_F(RegistryKeyTest, BackslashesAndDeletes) {
    StoreKeyPtr k = user();
    EXPECT_FALSE(k->createChild("a\\b"));
    EXPECT_FALSE(k->openChild("a\\b"));
    StoreKeyPtr deep = k->createPath("a\\b\\c");
    ASSERT_TRUE(deep);
    deep->setInt("v", 1);
    EXPECT_TRUE(k->openPath("A\\B\\C"));
    EXPECT_TRUE(k->deleteChild("A"));  // recursive, even with a handle below
    EXPECT_FALSE(k->openPath("a"));
    EXPECT_FALSE(deep->setInt("v", 2));  // the key is gone
    EXPECT_EQ(deep->getInt("v", 7), 7);
    EXPECT_FALSE(deep->createChild("x"));
}

TEST_F(RegistryKeyTest, MovesAndCopiesUseTheSameChecks) {
    StoreKeyPtr k = user();
    k->createPath("A\\B")->setInt("v", 3);
    EXPECT_FALSE(k->movePath("A", "A\\B\\C"));
    EXPECT_TRUE(k->movePath("A", "Z"));
    EXPECT_EQ(k->openPath("Z\\B")->getInt("v", 0), 3);
    k->openPath("Z")->setString("top", "t");
    EXPECT_TRUE(k->openPath("Z\\B")->copyAll(*k->openPath("Z")));
    EXPECT_EQ(k->openPath("Z\\B")->readString("top"), "t");
    EXPECT_FALSE(k->openPath("Z\\B\\B"));  // the destination itself is skipped
}

TEST_F(RegistryKeyTest, MachineRootIsReadOnly) {
    StoreKeyPtr m = RegistryKey::openRoot(RegistryKey::Root::Machine, false);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isReadOnly());
    EXPECT_FALSE(m->setInt("x", 1));
    EXPECT_FALSE(m->createPath("SOFTWARE"));
}

TEST_F(RegistryKeyTest, MalformedFileIsRefusedWithItsName) {
    const auto file = m_dir / "broken.conf";
    std::ofstream(file) << "PictomoveRegistry 1\nK a\nV x dword 0102\n";
    std::string error;
    EXPECT_FALSE(RegistryKey::openFile(file, true, &error));
    EXPECT_NE(error.find("broken.conf"), std::string::npos);
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    std::ofstream(file) << "something else\n";
    EXPECT_FALSE(RegistryKey::openFile(file, true, &error));
}

}  // namespace
}  // namespace pm
