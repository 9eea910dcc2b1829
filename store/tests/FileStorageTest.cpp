#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "StoreFixtures.h"
#include "store/FileStorage.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"
#include "store/detail/FileBackend.h"

namespace pm {
namespace {

using test::Bytes;
using test::RawChild;
using test::RawFile;

Bytes textBytes(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

Bytes le(std::uint64_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return b;
}

// Swaps the rename used by a rebuild for the duration of a test.
class RenameFails {
public:
    RenameFails() : m_saved(detail::renameFunction()) {
        detail::renameFunction() = [](const char*, const char*) {
            errno = EIO;
            return -1;
        };
    }
    ~RenameFails() { detail::renameFunction() = m_saved; }

private:
    detail::RenameFunction m_saved;
};

class FileStorageTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    std::filesystem::path m_file = m_dir / "project.mzp";
};

TEST_F(FileStorageTest, NewStoreClosedUnchangedKeepsJustTheHeader) {
    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew)) << storage.error();
    ASSERT_TRUE(storage.root());
    EXPECT_TRUE(storage.close());
    EXPECT_EQ(test::readFile(m_file),
              (Bytes{'Q', 'V', 'S', 'F', 16, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0}));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "project.BAK"));
}

TEST_F(FileStorageTest, FreshFileIsRebuiltThroughBakAndHasTheExactLayout) {
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        StoreKeyPtr key = storage.root()->createChild("Key");
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->setInt("Val", 7));
        key.reset();
        ASSERT_TRUE(storage.close()) << storage.error();
    }
    // root {Key}, Key {Val}, Val = 7: each folder holds one named record in 8 reserved slots.
    RawFile expected;
    const Bytes root = test::folderData({{1, -2, "Key"}});
    const Bytes key = test::folderData({{2, -2, "Val"}});
    ASSERT_EQ(root.size(), 113u);
    expected.dataEntry(1, -1, root);
    expected.dataEntry(1, 0, key);
    expected.entry(2, 1, 7, 0);
    EXPECT_EQ(test::readFile(m_file), expected.build());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "project.BAK"));

    FileStorage again;
    ASSERT_TRUE(again.open(m_file, FileStorage::kReadOnly)) << again.error();
    EXPECT_EQ(again.root()->openPath("Key")->getInt("Val", 0), 7);
}

TEST_F(FileStorageTest, OpensAFileBuiltFromTheLayoutTables) {
    // Written as another program following the layout would: data in any order, unnamed
    // children after the sorted named ones, ids of its own choosing.
    RawFile f;
    const Bytes wide = {'h', 0, 'i', 0, 0, 0};
    f.entry(1, -1, 0, 0);  // root, data filled in below
    f.entry(2, 0, 0xFFFFFFFF, 0);
    f.entry(3, 0, 0x89ABCDEF, 0x01234567);
    f.entry(4, 0, 0, 0x3FF80000);  // 1.5
    f.dataEntry(6, 0, textBytes("hello"));
    f.dataEntry(7, 0, wide);
    f.dataEntry(5, 0, Bytes{1, 2, 3});
    f.dataEntry(1, 0, test::folderData({{8, -7, "inner"}, {9, -9, ""}}));
    f.dataEntry(1, 7, {});  // an empty folder stored with size 0
    f.dataEntry(6, 7, textBytes("unnamed"));
    const Bytes rootData = test::folderData({{6, -3, "B"},
                                             {7, -2, "Folder"},
                                             {2, -4, "Int64"},
                                             {3, -5, "double"},
                                             {1, -6, "int"},
                                             {4, -8, "text"},
                                             {5, -10, "wide"}});
    f.entries()[0].low = f.add(rootData);
    f.entries()[0].high = static_cast<std::uint32_t>(rootData.size());
    test::writeFile(m_file, f.build());

    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kReadOnly)) << storage.error();
    StoreKeyPtr root = storage.root();
    EXPECT_EQ(root->getInt("int", 0), -1);
    EXPECT_EQ(root->getInt64("Int64", 0), 0x0123456789ABCDEFLL);
    EXPECT_EQ(root->getDouble("double", 0), 1.5);
    EXPECT_EQ(root->readString("text"), "hello");
    EXPECT_EQ(root->readWideString("wide"), u"hi");
    unsigned char bin[8] = {};
    EXPECT_EQ(root->getBinary("B", bin, sizeof bin, nullptr), 3);
    EXPECT_EQ(bin[2], 3);
    StoreKeyPtr folder = root->openChild("Folder");
    ASSERT_TRUE(folder);
    char name[32];
    ASSERT_TRUE(folder->valueName(0, name, sizeof name));
    EXPECT_STREQ(name, "#fffffff7");
    EXPECT_EQ(folder->readString("#FFFFFFF7"), "unnamed");
    EXPECT_TRUE(root->openPath("\\Folder\\inner"));
    // The id counter starts at -2 on every load and skips ids in use.
    folder = root->openChild("Folder");
    storage.close();
    folder.reset();

    FileStorage writable;
    ASSERT_TRUE(writable.open(m_file, FileStorage::kOpenExisting));
    StoreKeyPtr w = writable.root()->openChild("Folder");
    ASSERT_TRUE(w->setInt("#1", 5));
    ASSERT_TRUE(w->setInt("#1", 6));  // a second unnamed value, since ids are never chosen
    EXPECT_TRUE(w->valueName(1, name, sizeof name));
    EXPECT_STREQ(name, "#fffffffe");
    EXPECT_TRUE(w->valueName(2, name, sizeof name));
    EXPECT_STREQ(name, "#fffffffd");
}

TEST_F(FileStorageTest, WhatWeWriteReadsBackThroughTheLayoutTables) {
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        StoreKeyPtr root = storage.root();
        root->setInt("b", 2);
        root->setInt64("a", -3);
        StoreKeyPtr deep = root->createPath("x\\Y\\z");
        deep->setString("s", "str");
        deep->setWideString("w", u"W");
        root->createChild("#0")->setDouble("d", 2.0);
        const Bytes blob(5000, 0xAB);
        root->openChild("x")->setBinary("blob", blob.data(), blob.size());
        root->setString("b2", "short");
        root->setString("b2", "a longer text that moves");
        root->deleteValue("b");
        deep.reset();
        root.reset();
        ASSERT_TRUE(storage.close()) << storage.error();
    }
    const test::RawTree tree = test::readLayout(test::readFile(m_file));
    EXPECT_EQ(tree.keys, (std::vector<std::string>{"", "x", "x\\Y", "x\\Y\\z", "#fffffffb"}));
    EXPECT_EQ(tree.values.size(), 6u);
    EXPECT_EQ(tree.values.at("a"), (test::RawValue{3, le(static_cast<std::uint64_t>(-3), 8)}));
    EXPECT_EQ(tree.values.at("b2"), (test::RawValue{6, textBytes("a longer text that moves")}));
    EXPECT_EQ(tree.values.at("x\\Y\\z\\s"), (test::RawValue{6, textBytes("str")}));
    EXPECT_EQ(tree.values.at("x\\Y\\z\\w"), (test::RawValue{7, Bytes{'W', 0, 0, 0}}));
    EXPECT_EQ(tree.values.at("x\\blob").bytes.size(), 5000u);
    EXPECT_EQ(tree.values.at("#fffffffb\\d"), (test::RawValue{4, le(0x4000000000000000ULL, 8)}));
    // Compacted: nothing but header, table and live data.
    const Bytes file = test::readFile(m_file);
    std::uint64_t live = 0;
    for (std::uint32_t i = 0; i < test::le32(file, 8); ++i) {
        const std::uint32_t type = test::le32(file, 16 + 16 * i);
        if (type == 1 || type >= 5) {
            live += test::le32(file, 16 + 16 * i + 12);
        }
    }
    EXPECT_EQ(file.size(), test::le32(file, 12) + live);
}

TEST_F(FileStorageTest, GrowingAStringMovesItAndCompactsAtClose) {
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        storage.root()->setString("s", "abc");
        storage.root()->setString("t", "xyz");
        ASSERT_TRUE(storage.close());
    }
    const Bytes before = test::readFile(m_file);
    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kOpenExisting));
    ASSERT_TRUE(storage.root()->setString("s", "abcdefgh"));
    EXPECT_EQ(std::filesystem::file_size(m_file), before.size() + 9);  // appended at the end
    EXPECT_EQ(storage.root()->readString("s"), "abcdefgh");
    ASSERT_TRUE(storage.close());
    const Bytes after = test::readFile(m_file);
    EXPECT_EQ(after.size(), before.size() + 5);
    const test::RawTree tree = test::readLayout(after);
    EXPECT_EQ(tree.values.at("s").bytes, textBytes("abcdefgh"));
    EXPECT_EQ(tree.values.at("t").bytes, textBytes("xyz"));
}

// A large value handed over in pieces reads back whole, in a file and in memory; a reader that
// fails leaves the value that was there.
TEST_F(FileStorageTest, ABinaryValueWrittenInPiecesReadsBackWhole) {
    std::vector<unsigned char> data(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + i / 4096);
    }
    const auto from = [&](std::size_t& offset, int& calls) {
        return [&](void* buffer, std::size_t n) {
            ++calls;
            std::memcpy(buffer, data.data() + offset, n);
            offset += n;
            return true;
        };
    };
    FileStorage file;
    ASSERT_TRUE(file.open(m_file, FileStorage::kCreateNew));
    MemoryStorage memory;
    ASSERT_TRUE(memory.open());
    for (StoreKeyPtr root : {file.root(), memory.root()}) {
        std::size_t offset = 0;
        int calls = 0;
        ASSERT_TRUE(root->setBinary("big", "old", 3));
        ASSERT_TRUE(root->setBinaryFrom("big", data.size(), from(offset, calls)));
        EXPECT_EQ(offset, data.size());
        ASSERT_EQ(root->valueSize("big"), static_cast<std::int64_t>(data.size()));
        std::vector<unsigned char> back(data.size());
        ASSERT_EQ(root->getBinary("big", back.data(), back.size(), nullptr),
                  static_cast<std::int64_t>(data.size()));
        EXPECT_TRUE(back == data);
        // Something that stops half-way changes nothing.
        ASSERT_TRUE(root->setBinary("small", "keep", 4));
        int failing = 0;
        // (The file takes a first piece and then fails; memory asks for everything at once.)
        EXPECT_FALSE(root->setBinaryFrom("small", data.size(), [&](void*, std::size_t n) {
            return n < data.size() && ++failing < 2;
        }));
        EXPECT_EQ(root->valueSize("small"), 4);
    }
    ASSERT_TRUE(file.close());
    // The file's own pieces: a megabyte at a time, so more than one call for three megabytes.
    FileStorage again;
    ASSERT_TRUE(again.open(m_file, FileStorage::kOpenExisting));
    std::size_t offset = 0;
    int calls = 0;
    ASSERT_TRUE(again.root()->setBinaryFrom("big", data.size(), from(offset, calls)));
    EXPECT_GT(calls, 1);
    ASSERT_TRUE(again.close());
    FileStorage reading;
    ASSERT_TRUE(reading.open(m_file, FileStorage::kReadOnly));
    std::vector<unsigned char> back(data.size());
    EXPECT_EQ(reading.root()->getBinary("big", back.data(), back.size(), nullptr),
              static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(back == data);
}

TEST_F(FileStorageTest, RewritingWithTheSameLengthTouchesOnlyThatData) {
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        storage.root()->setString("s", "abc");
        storage.root()->setInt("n", 1);
        ASSERT_TRUE(storage.close());
    }
    Bytes expected = test::readFile(m_file);
    struct stat st {};
    ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kOpenExisting));
    ASSERT_TRUE(storage.root()->setString("s", "xyz"));
    ASSERT_TRUE(storage.close());
    const Bytes after = test::readFile(m_file);
    const auto at =
        std::search(expected.begin(), expected.end(), std::begin("abc"), std::end("abc"));
    ASSERT_NE(at, expected.end());
    std::copy_n("xyz", 3, at);
    EXPECT_EQ(after, expected);
    ::stat(m_file.c_str(), &st);
    EXPECT_EQ(st.st_ino, inode);  // written in place, not rebuilt
}

TEST_F(FileStorageTest, FailedRenameLeavesTheOldFileWhole) {
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        storage.root()->setString("s", "old");
        ASSERT_TRUE(storage.close());
    }
    for (const unsigned mode : {FileStorage::kOpenExisting, FileStorage::kCreateNew}) {
        SCOPED_TRACE(mode);
        const Bytes old = test::readFile(m_file);
        {
            RenameFails failing;
            FileStorage storage;
            ASSERT_TRUE(storage.open(m_file, mode));
            ASSERT_TRUE(storage.root()->setString("s", "a new and longer value"));
            EXPECT_FALSE(storage.close());
            EXPECT_NE(storage.error().find("project.BAK"), std::string::npos) << storage.error();
        }
        if (mode == FileStorage::kCreateNew) {
            EXPECT_EQ(test::readFile(m_file), old);  // a new store never wrote to the old file
        } else {
            // Growing data went past the old end; the old table and data are untouched.
            const Bytes now = test::readFile(m_file);
            ASSERT_GE(now.size(), old.size());
            EXPECT_TRUE(std::equal(old.begin(), old.end(), now.begin()));
        }
        FileStorage previous;
        ASSERT_TRUE(previous.open(m_file, FileStorage::kReadOnly)) << previous.error();
        EXPECT_EQ(previous.root()->readString("s"), "old");
        previous.close();
        // The new content is complete in the temporary file.
        FileStorage bak;
        ASSERT_TRUE(bak.open(m_dir / "project.BAK", FileStorage::kReadOnly)) << bak.error();
        EXPECT_EQ(bak.root()->readString("s"), "a new and longer value");
    }
}

TEST_F(FileStorageTest, LargeNewStoreKeepsItsDataInPlaceAndStillReplacesAtomically) {
    test::writeFile(m_file, Bytes{'o', 'l', 'd'});
    Bytes big(3u << 20);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    }
    const auto save = [&](bool renameFails) {
        std::optional<RenameFails> failing;
        if (renameFails) {
            failing.emplace();
        }
        FileStorage storage;
        EXPECT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        StoreKeyPtr pictures = storage.root()->createChild("Pictures");
        EXPECT_TRUE(pictures->setBinary("one", big.data(), big.size()));
        EXPECT_TRUE(pictures->setInt("count", 1));
        pictures.reset();
        return storage.close();
    };
    EXPECT_FALSE(save(true));
    EXPECT_EQ(test::readFile(m_file), (Bytes{'o', 'l', 'd'}));
    ASSERT_TRUE(save(false));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "project.BAK"));
    const test::RawTree tree = test::readLayout(test::readFile(m_file));
    EXPECT_EQ(tree.values.at("Pictures\\one").bytes, big);
    FileStorage again;
    ASSERT_TRUE(again.open(m_file, FileStorage::kReadOnly)) << again.error();
    EXPECT_EQ(again.root()->openChild("Pictures")->getInt("count", 0), 1);
}

TEST_F(FileStorageTest, RebuildPathReplacesOnlyTheFileNamesExtension) {
    EXPECT_EQ(detail::rebuildPath("/a/b/project.mzp"), "/a/b/project.BAK");
    EXPECT_EQ(detail::rebuildPath("/a/b/archive.tar.mzp"), "/a/b/archive.tar.BAK");
    EXPECT_EQ(detail::rebuildPath("/a/my.dir/project"), "/a/my.dir/project.BAK");
}

TEST_F(FileStorageTest, OpenModes) {
    FileStorage storage;
    EXPECT_FALSE(storage.open(m_file, FileStorage::kReadOnly));
    EXPECT_NE(storage.error().find(m_file.string()), std::string::npos);
    EXPECT_FALSE(storage.open(m_file, FileStorage::kOpenExisting));
    ASSERT_TRUE(storage.open(m_file, FileStorage::kOpenOrCreate));
    storage.root()->setInt("v", 1);
    ASSERT_TRUE(storage.close());
    ASSERT_TRUE(storage.open(m_file, FileStorage::kOpenOrCreate));
    EXPECT_EQ(storage.root()->getInt("v", 0), 1);
    // A second writer is refused while the first one has the file.
    FileStorage second;
    EXPECT_FALSE(second.open(m_file, FileStorage::kOpenExisting));
    ASSERT_TRUE(second.open(m_file, FileStorage::kReadOnly)) << second.error();
    EXPECT_EQ(second.root()->getInt("v", 0), 1);
    EXPECT_FALSE(second.root()->setInt("w", 1));
    EXPECT_FALSE(second.root()->createChild("k"));
    EXPECT_TRUE(storage.close());
    // Mode 4 starts empty, and the old file stays until the new one replaces it at close.
    ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
    EXPECT_EQ(storage.root()->getInt("v", 0), 0);
    FileStorage reader;
    ASSERT_TRUE(reader.open(m_file, FileStorage::kReadOnly));
    EXPECT_EQ(reader.root()->getInt("v", 0), 1);
    reader.close();
    EXPECT_TRUE(storage.close());
    ASSERT_TRUE(reader.open(m_file, FileStorage::kReadOnly));
    EXPECT_FALSE(reader.root());  // an empty read-only store has no root
    EXPECT_TRUE(reader.close());
}

TEST_F(FileStorageTest, CloseWaitsForTheLastHandle) {
    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
    StoreKeyPtr child = storage.root()->createChild("k");
    EXPECT_FALSE(storage.close());  // still open through `child`
    EXPECT_TRUE(child->setInt("late", 3));
    StoreKeyPtr copy = child;
    child.reset();
    EXPECT_TRUE(copy->setInt("later", 4));
    copy.reset();  // the last handle: the storage writes its file now
    FileStorage again;
    ASSERT_TRUE(again.open(m_file, FileStorage::kReadOnly));
    EXPECT_EQ(again.root()->openChild("k")->getInt("late", 0), 3);
    EXPECT_EQ(again.root()->openChild("k")->getInt("later", 0), 4);
}

TEST_F(FileStorageTest, WritesThatWouldPassFourGigabytesFail) {
    // A sparse file whose data area already ends just below 4 GB.
    RawFile f;
    const Bytes root = test::folderData({{1, -2, "big"}});
    f.entry(1, -1, 0, static_cast<std::uint32_t>(root.size()));
    f.entry(5, 0, 0xFFFFFF00u, 0x80);
    f.add(root);
    Bytes file = f.build();
    test::writeFile(m_file, file);
    ASSERT_EQ(::truncate(m_file.c_str(), static_cast<off_t>(test::le32(file, 12)) + 0xFFFFFF80LL),
              0);
    FileStorage storage;
    ASSERT_TRUE(storage.open(m_file, FileStorage::kOpenExisting)) << storage.error();
    StoreKeyPtr r = storage.root();
    const Bytes small(0x40, 1);
    EXPECT_TRUE(r->setBinary("big", small.data(), small.size()));  // fits in place
    const Bytes more(0x200, 2);
    EXPECT_FALSE(r->setBinary("big", more.data(), more.size()));
    EXPECT_FALSE(r->setBinary("other", more.data(), more.size()));
    unsigned char got[0x40] = {};
    EXPECT_EQ(r->getBinary("big", got, sizeof got, nullptr), 0x40);
    EXPECT_EQ(got[0x3F], 1);
    r->deleteValue("other");
    r.reset();
    storage.close();
    std::filesystem::remove(m_file);
}

TEST_F(FileStorageTest, HandleOutlivesItsOwner) {
    StoreKeyPtr kept;
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(m_file, FileStorage::kCreateNew));
        kept = storage.root()->createChild("k");
    }
    EXPECT_TRUE(kept->setInt("v", 9));
    kept.reset();
    FileStorage again;
    ASSERT_TRUE(again.open(m_file, FileStorage::kReadOnly));
    EXPECT_EQ(again.root()->openPath("k")->getInt("v", 0), 9);
}

}  // namespace
}  // namespace pm
