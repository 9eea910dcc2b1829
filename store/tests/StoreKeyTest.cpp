#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "StoreFixtures.h"
#include "store/FileStorage.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

enum class Kind { File, Memory };

// Every behaviour of the storage-backed key, run on a file store and on a memory store.
class StoreKeyTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::File) {
            ASSERT_TRUE(m_file.open(m_dir / "s.mzp", FileStorage::kCreateNew));
            m_root = m_file.root();
        } else {
            ASSERT_TRUE(m_memory.open());
            m_root = m_memory.root();
        }
        ASSERT_TRUE(m_root);
    }

    std::vector<std::string> childNames(StoreKey& key) {
        std::vector<std::string> names;
        char name[300];
        for (int i = 0; key.childName(i, name, sizeof name); ++i) {
            names.emplace_back(name);
        }
        return names;
    }
    std::vector<std::string> valueNames(StoreKey& key) {
        std::vector<std::string> names;
        char name[300];
        for (int i = 0; key.valueName(i, name, sizeof name); ++i) {
            names.emplace_back(name);
        }
        return names;
    }

    test::TempDir m_dir;
    FileStorage m_file;
    MemoryStorage m_memory;
    StoreKeyPtr m_root;
};

INSTANTIATE_TEST_SUITE_P(Storages, StoreKeyTest, ::testing::Values(Kind::File, Kind::Memory),
                         [](const auto& p) { return p.param == Kind::File ? "File" : "Memory"; });

TEST_P(StoreKeyTest, AValueKeepsItsTypeUntilDeleted) {
    struct Case {
        const char* what;
        int (*write)(StoreKey&);
    };
    const Case others[] = {
        {"int", [](StoreKey& k) { return k.setInt("v", 1); }},
        {"int64", [](StoreKey& k) { return k.setInt64("v", 1); }},
        {"string", [](StoreKey& k) { return k.setString("v", "1"); }},
        {"wide", [](StoreKey& k) { return k.setWideString("v", u"1"); }},
        {"binary", [](StoreKey& k) { return k.setBinary("v", "1", 1); }},
    };
    for (const Case& c : others) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_root->setDouble("v", 2.5));
        EXPECT_FALSE(c.write(*m_root));
        EXPECT_EQ(m_root->getInt("v", -7), -7);  // reading another type gives the default
        EXPECT_EQ(m_root->getDouble("v", 0), 2.5);
        ASSERT_TRUE(m_root->deleteValue("v"));
        EXPECT_TRUE(c.write(*m_root));
        ASSERT_TRUE(m_root->deleteValue("v"));
    }
    // Keys and values never replace each other.
    ASSERT_TRUE(m_root->createChild("k"));
    EXPECT_FALSE(m_root->setInt("k", 1));
    ASSERT_TRUE(m_root->setInt("n", 1));
    EXPECT_FALSE(m_root->createChild("n"));
    EXPECT_FALSE(m_root->openChild("n"));
    EXPECT_FALSE(m_root->hasValue("k"));
    EXPECT_EQ(m_root->valueType("k"), ValueType::None);
}

TEST_P(StoreKeyTest, NamesSortByteWise) {
    for (const char* n : {"scale", "a", "Scale", "_", "B"}) {
        ASSERT_TRUE(m_root->createChild(n));
    }
    EXPECT_EQ(childNames(*m_root), (std::vector<std::string>{"B", "Scale", "_", "a", "scale"}));
    EXPECT_NE(m_root->openChild("Scale").get(), nullptr);
    EXPECT_FALSE(m_root->openChild("SCALE"));
}

TEST_P(StoreKeyTest, UnnamedChildrenAreListedByTheirIds) {
    StoreKeyPtr first = m_root->createChild("#1");
    StoreKeyPtr second = m_root->createChild("#1");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(m_root->createChild("named"));
    EXPECT_EQ(childNames(*m_root), (std::vector<std::string>{"named", "#fffffffe", "#fffffffd"}));
    first->setInt("v", 11);
    EXPECT_EQ(m_root->openChild("#FFFFFFFE")->getInt("v", 0), 11);
    EXPECT_EQ(m_root->openPath("#fffffffe")->getInt("v", 0), 11);
    EXPECT_TRUE(m_root->renameChild("#fffffffd", "later"));
    EXPECT_EQ(childNames(*m_root), (std::vector<std::string>{"later", "named", "#fffffffe"}));
}

TEST_P(StoreKeyTest, EnumerationCountsKeysAndValuesApart) {
    for (int i = 0; i < 6; ++i) {
        const std::string n = "n" + std::to_string(i);
        if (i % 2 == 0) {
            m_root->createChild(n);
        } else {
            m_root->setInt(n, i);
        }
    }
    EXPECT_EQ(childNames(*m_root), (std::vector<std::string>{"n0", "n2", "n4"}));
    EXPECT_EQ(valueNames(*m_root), (std::vector<std::string>{"n1", "n3", "n5"}));
    char name[8];
    ASSERT_TRUE(m_root->childName(2, name, sizeof name));
    ASSERT_TRUE(m_root->childName(0, name, sizeof name));  // going back restarts the walk
    EXPECT_STREQ(name, "n0");
    ASSERT_TRUE(m_root->childName(1, name, sizeof name));
    ASSERT_TRUE(m_root->deleteChild("n2"));  // changes reset the remembered position
    ASSERT_TRUE(m_root->childName(1, name, sizeof name));
    EXPECT_STREQ(name, "n4");
    EXPECT_FALSE(m_root->childName(2, name, sizeof name));
    // A change made through another handle of the same folder also counts.
    StoreKeyPtr other = m_root->openPath("");
    ASSERT_TRUE(m_root->valueName(2, name, sizeof name));
    other->deleteValue("n1");
    ASSERT_TRUE(m_root->valueName(1, name, sizeof name));
    EXPECT_STREQ(name, "n5");
    // A small buffer gets a cut, terminated name.
    char tiny[3];
    ASSERT_TRUE(m_root->valueName(0, tiny, sizeof tiny));
    EXPECT_STREQ(tiny, "n3");
}

TEST_P(StoreKeyTest, ReadsCopyWhatFitsOrTheDefault) {
    ASSERT_TRUE(m_root->setString("s", "abcdef"));
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(m_root->getString("s", buf, 3, "zz"), 3);
    EXPECT_EQ(std::string(buf, 4), "abcx");  // cut, not terminated
    EXPECT_EQ(m_root->getString("missing", buf, sizeof buf, "zz"), -1);
    EXPECT_STREQ(buf, "zz");
    const unsigned char fallback[4] = {9, 8, 7, 6};
    unsigned char out[4] = {};
    EXPECT_EQ(m_root->getRaw(ValueType::Binary, "s", out, 4, fallback), -1);
    EXPECT_EQ(std::memcmp(out, fallback, 4), 0);
    EXPECT_EQ(m_root->valueSize("s"), 7);
    EXPECT_EQ(m_root->valueType("s"), ValueType::String);
    ASSERT_TRUE(m_root->setInt64("w", 0x1122334455667788LL));
    EXPECT_EQ(m_root->valueSize("w"), 8);
    EXPECT_EQ(m_root->getRaw(ValueType::Int64, "w", out, 4, nullptr), 4);
    EXPECT_EQ(out[0], 0x88);
    EXPECT_FALSE(m_root->setRaw(ValueType::Int, "bad", out, 3));  // numbers have one width
    EXPECT_EQ(m_root->valueSize("missing"), -1);
    EXPECT_EQ(m_root->readWideString("missing", u"dflt"), u"dflt");
    ASSERT_TRUE(m_root->setWideString("w16", u"wide \u00e9"));
    EXPECT_EQ(m_root->valueSize("w16"), 14);
    EXPECT_EQ(m_root->readWideString("w16"), u"wide \u00e9");
}

TEST_P(StoreKeyTest, ResizedValuesKeepTheirNeighbours) {
    std::vector<std::vector<unsigned char>> data;
    for (int i = 0; i < 5; ++i) {
        data.emplace_back(static_cast<std::size_t>(100 + i * 50), static_cast<unsigned char>(i));
        ASSERT_TRUE(m_root->setBinary("b" + std::to_string(i), data[i].data(), data[i].size()));
    }
    data[2].assign(5000, 0x22);
    ASSERT_TRUE(m_root->setBinary("b2", data[2].data(), data[2].size()));
    data[1].assign(3, 0x11);
    ASSERT_TRUE(m_root->setBinary("b1", data[1].data(), data[1].size()));
    ASSERT_TRUE(m_root->deleteValue("b3"));
    m_root->createChild("k")->setString("later", "folder data grows too");
    for (int i : {0, 1, 2, 4}) {
        std::vector<unsigned char> got(6000);
        const auto n = m_root->getBinary("b" + std::to_string(i), got.data(), got.size(), nullptr);
        got.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
        EXPECT_EQ(got, data[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(m_root->openChild("k")->readString("later"), "folder data grows too");
}

TEST_P(StoreKeyTest, DeleteChildRemovesEverythingBelowUnlessOpen) {
    StoreKeyPtr deep = m_root->createPath("a\\b\\c");
    deep->setString("s", "x");
    m_root->openPath("a")->setInt("v", 1);
    EXPECT_FALSE(m_root->deleteChild("a"));  // a handle below is still open
    deep.reset();
    EXPECT_TRUE(m_root->deleteChild("a"));
    EXPECT_FALSE(m_root->openPath("a\\b"));
    EXPECT_TRUE(childNames(*m_root).empty());
    EXPECT_FALSE(m_root->deleteChild("a"));
    m_root->createPath("p\\q")->setInt("v", 2);
    EXPECT_TRUE(m_root->deletePath("p\\q\\v"));  // a value at the end of a path
    EXPECT_TRUE(m_root->deletePath("\\p\\q"));
    EXPECT_TRUE(m_root->openPath("p"));
    EXPECT_FALSE(m_root->openPath("p\\q"));
}

TEST_P(StoreKeyTest, RenameFailsOnTakenNames) {
    m_root->createChild("a");
    m_root->createChild("b");
    m_root->setInt("v", 1);
    m_root->setInt("w", 2);
    EXPECT_FALSE(m_root->renameChild("a", "b"));
    EXPECT_FALSE(m_root->renameChild("a", "v"));
    EXPECT_FALSE(m_root->renameValue("v", "w"));
    EXPECT_FALSE(m_root->renameValue("v", "a"));
    EXPECT_FALSE(m_root->renameChild("v", "z"));  // not a key
    EXPECT_TRUE(m_root->renameChild("a", "c"));
    EXPECT_TRUE(m_root->renameValue("v", "u"));
    EXPECT_EQ(childNames(*m_root), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(valueNames(*m_root), (std::vector<std::string>{"u", "w"}));
    EXPECT_EQ(m_root->getInt("u", 0), 1);
}

TEST_P(StoreKeyTest, MovingAKeyIntoItselfOrBelowIsRefused) {
    StoreKeyPtr a = m_root->createPath("A\\B\\C");
    a->setInt("v", 1);
    a.reset();
    EXPECT_FALSE(m_root->movePath("A", "A\\B\\C\\D"));
    EXPECT_FALSE(m_root->movePath("A", "A\\X"));
    EXPECT_FALSE(m_root->movePath("A", "A"));
    EXPECT_FALSE(m_root->openPath("A")->moveChild("B", "B", m_root->openPath("A\\B").get()));
    EXPECT_EQ(m_root->openPath("A\\B\\C")->getInt("v", 0), 1);
    EXPECT_FALSE(m_root->openPath("A\\X"));
    // A move elsewhere copies and deletes the source.
    EXPECT_TRUE(m_root->movePath("A\\B", "Z\\B2"));
    EXPECT_EQ(m_root->openPath("Z\\B2\\C")->getInt("v", 0), 1);
    EXPECT_FALSE(m_root->openPath("A\\B"));
    EXPECT_TRUE(m_root->renamePath("Z\\B2", "A\\B"));
    EXPECT_EQ(m_root->openPath("A\\B\\C")->getInt("v", 0), 1);
    EXPECT_TRUE(m_root->openPath("A")->moveChild("B", "Y"));  // no other handle: a rename
    EXPECT_TRUE(m_root->openPath("A\\Y\\C"));
    EXPECT_FALSE(m_root->openPath("A")->moveChild("Y", "a\\b"));
}

TEST_P(StoreKeyTest, CopyingAKeyIntoItsOwnDescendantEnds) {
    StoreKeyPtr a = m_root->createPath("A\\B");
    m_root->openPath("A")->setString("s", "top");
    a->setInt("v", 2);
    StoreKeyPtr target = m_root->createPath("A\\B\\Copy");
    ASSERT_TRUE(target->copyAll(*m_root->openPath("A"), true));
    EXPECT_EQ(target->readString("s"), "top");
    EXPECT_EQ(target->openPath("B")->getInt("v", 0), 2);
    EXPECT_FALSE(target->openPath("B\\Copy"));  // the destination itself was skipped
    char name[64];
    StoreKeyPtr b = m_root->openPath("A\\B");
    for (StoreKey* k : {target.get(), b.get()}) {
        for (int i = 0; k->valueName(i, name, sizeof name); ++i) {
            EXPECT_NE(std::string(name).rfind("QvsKeyFlag", 0), 0u) << "guard left behind";
        }
    }
    EXPECT_TRUE(m_root->copyPath("A\\B", nullptr, "C"));
    EXPECT_EQ(m_root->openPath("C\\Copy")->readString("s"), "top");
    EXPECT_TRUE(m_root->copyChild("C", "D"));
    EXPECT_EQ(m_root->openPath("D")->getInt("v", 0), 2);
    EXPECT_FALSE(m_root->copyChild("C", "x\\y"));
    EXPECT_TRUE(m_root->copyIntoPath("E\\F", *m_root->openPath("D")));
    EXPECT_EQ(m_root->openPath("E\\F")->getInt("v", 0), 2);
}

TEST_P(StoreKeyTest, CopiesAndMovesAcrossStores) {
    MemoryStorage other;
    ASSERT_TRUE(other.open());
    m_root->createPath("src\\deep")->setDouble("d", 4.5);
    m_root->openPath("src")->setCompressed("z", "zzzzzzzzzz", 10);
    EXPECT_TRUE(m_root->movePath("src", "dst", other.root().get()));
    EXPECT_FALSE(m_root->openPath("src"));
    EXPECT_EQ(other.root()->openPath("dst\\deep")->getDouble("d", 0), 4.5);
    char out[10];
    EXPECT_EQ(other.root()->openPath("dst")->getCompressed("z", out, sizeof out, nullptr), 10);
    EXPECT_TRUE(other.root()->moveValue("dst\\deep\\d", "d", nullptr) == 0);  // names, not paths
    StoreKeyPtr deep = other.root()->openPath("dst\\deep");
    EXPECT_TRUE(deep->moveValue("d", "moved", m_root.get()));
    EXPECT_EQ(m_root->getDouble("moved", 0), 4.5);
    EXPECT_FALSE(deep->hasValue("d"));
}

TEST_P(StoreKeyTest, CompressedValues) {
    std::vector<unsigned char> data(20000);
    std::iota(data.begin(), data.end(), 0);
    ASSERT_TRUE(m_root->setCompressed("z", data.data(), data.size()));
    EXPECT_TRUE(m_root->isCompressed("z"));
    EXPECT_EQ(m_root->compressedSize("z"), 20000);
    EXPECT_LT(m_root->valueSize("z"), 20000);
    unsigned char small[100];
    EXPECT_EQ(m_root->getCompressed("z", small, sizeof small, nullptr), 100);
    EXPECT_EQ(std::memcmp(small, data.data(), 100), 0);
    std::vector<unsigned char> all(30000);
    EXPECT_EQ(m_root->getCompressed("z", all.data(), all.size(), nullptr), 20000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), all.begin()));
    // Without the marker it reads as a plain binary value.
    ASSERT_TRUE(m_root->setBinary("plain", "abc", 3));
    EXPECT_FALSE(m_root->isCompressed("plain"));
    EXPECT_EQ(m_root->compressedSize("plain"), 3);
    EXPECT_EQ(m_root->getCompressed("plain", small, sizeof small, nullptr), 3);
    // Damaged streams and absurd sizes give the default.
    const unsigned char fallback[4] = {1, 2, 3, 4};
    unsigned char bad[] = {'Q', 'v', 's', 'Z', 10, 0, 0, 0, 0x78, 0x9c, 0xff, 0xff};
    ASSERT_TRUE(m_root->setBinary("bad", bad, sizeof bad));
    EXPECT_EQ(m_root->getCompressed("bad", small, 4, fallback), -1);
    EXPECT_EQ(std::memcmp(small, fallback, 4), 0);
    unsigned char huge[] = {'Q', 'v', 's', 'Z', 0xff, 0xff, 0xff, 0xff, 0x78, 0x9c};
    ASSERT_TRUE(m_root->setBinary("huge", huge, sizeof huge));
    EXPECT_EQ(m_root->getCompressed("huge", small, 4, nullptr), -1);
    ASSERT_TRUE(m_root->setCompressed("empty", nullptr, 0));
    EXPECT_EQ(m_root->getCompressed("empty", small, 4, nullptr), 0);
}

TEST_P(StoreKeyTest, GuidValues) {
    const Guid fallback{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    Guid out;
    EXPECT_EQ(m_root->getGuid("missing", out, fallback), 0);
    EXPECT_EQ(out, fallback);
    const Guid g{0x0123ABCD, 0x4567, 0x89EF, {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17}};
    ASSERT_TRUE(m_root->setGuid("g", g));
    EXPECT_EQ(m_root->readString("g"), "{0123ABCD-4567-89EF-A0B1-C2D3E4F50617}");
    EXPECT_EQ(m_root->getGuid("g", out, fallback), 1);
    EXPECT_EQ(out, g);
    m_root->setString("lower", "{0123abcd-4567-89ef-a0b1-c2d3e4f50617}");
    EXPECT_EQ(m_root->getGuid("lower", out, fallback), 1);
    EXPECT_EQ(out, g);
    for (const char* text :
         {"{0123ABCD-4567-89EF-A0B1-C2D3E4F5061}", "not a guid at all, really no",
          "{0123ABCD-4567-89EF-A0B1-C2D3E4F5061Z}"}) {
        m_root->deleteValue("t");
        m_root->setString("t", text);
        EXPECT_EQ(m_root->getGuid("t", out, fallback), 0) << text;
        EXPECT_EQ(out, fallback);
    }
}

TEST_P(StoreKeyTest, GuardsMarkAKeyAndItsParents) {
    StoreKeyPtr deep = m_root->createPath("a\\b");
    const std::string guard = deep->createGuard();
    ASSERT_EQ(guard.size(), std::string("QvsKeyFlag00000000-0064").size());
    EXPECT_EQ(guard.substr(guard.size() - 5), "-0064");
    EXPECT_EQ(deep->getInt(guard, 0), static_cast<std::int32_t>(0x4B535651));
    EXPECT_NE(deep->createGuard(), guard);  // the next free name
    EXPECT_TRUE(deep->hasGuard(guard));
    EXPECT_TRUE(m_root->findGuard(guard));
    EXPECT_FALSE(m_root->hasGuard(guard));
    m_root->setInt("plain", 5);
    EXPECT_FALSE(m_root->deleteGuard("plain"));  // not a guard: stays
    EXPECT_TRUE(m_root->hasValue("plain"));
    EXPECT_TRUE(deep->deleteGuard(guard));
    EXPECT_FALSE(m_root->findGuard(guard));
}

TEST_P(StoreKeyTest, PathsSkipALeadingBackslashAndLimitComponents) {
    ASSERT_TRUE(m_root->createPath("\\x\\y"));
    EXPECT_TRUE(m_root->openPath("x\\y"));
    EXPECT_TRUE(m_root->openPath("\\x\\y\\"));
    EXPECT_FALSE(m_root->openPath("x\\nope"));
    EXPECT_FALSE(m_root->createPath(std::string(260, 'n')));
    EXPECT_TRUE(m_root->createPath(std::string(259, 'n')));
}

}  // namespace
}  // namespace pm
