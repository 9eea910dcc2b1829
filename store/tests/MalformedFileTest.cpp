#include <gtest/gtest.h>

#include <functional>

#include "StoreFixtures.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

using test::Bytes;
using test::RawFile;

// A sound file: root {"a": folder {"s": string}, "n": int}. Each case breaks one thing.
struct Parts {
    RawFile file;
    Bytes root = test::folderData({{1, -2, "a"}, {3, -3, "n"}});
    Bytes folder = test::folderData({{2, -2, "s"}});
};

Bytes build(const std::function<void(Parts&)>& damage) {
    Parts p;
    damage(p);
    RawFile& f = p.file;
    f.dataEntry(1, -1, p.root);
    f.dataEntry(1, 0, p.folder);
    f.dataEntry(6, 1, Bytes{'x', 0});
    f.entry(2, 0, 5, 0);
    return f.build();
}

void setLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Entry e's field f (0 type, 1 parent, 2 low, 3 high) in a built file.
std::size_t field(std::uint32_t e, int f) {
    return 16 + 16 * std::size_t{e} + 4 * static_cast<std::size_t>(f);
}

struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* reason;  // a part of the error text
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class MalformedFileTest : public ::testing::TestWithParam<Case> {};

TEST(MalformedFileTest, TheSoundFileOpens) {
    test::TempDir dir;
    test::writeFile(dir / "ok.mzp", build([](Parts&) {}));
    FileStorage storage;
    ASSERT_TRUE(storage.open(dir / "ok.mzp", FileStorage::kReadOnly)) << storage.error();
    EXPECT_EQ(storage.root()->openChild("a")->readString("s"), "x");
    EXPECT_EQ(storage.root()->getInt("n", 0), 5);
}

TEST_P(MalformedFileTest, IsRefusedWithItsReason) {
    test::TempDir dir;
    const auto path = dir / "bad.mzp";
    Bytes bytes = build([](Parts&) {});
    GetParam().damage(bytes);
    test::writeFile(path, bytes);
    for (const unsigned mode : {FileStorage::kReadOnly, FileStorage::kOpenExisting}) {
        FileStorage storage;
        EXPECT_FALSE(storage.open(path, mode));
        EXPECT_NE(storage.error().find(path.string()), std::string::npos) << storage.error();
        EXPECT_NE(storage.error().find(GetParam().reason), std::string::npos) << storage.error();
    }
    EXPECT_EQ(test::readFile(path), bytes);  // a refused file is left alone
}

// Offsets of the built sound file: root data at data start, folder data 113 bytes later.
constexpr std::size_t kDataStart = 16 + 16 * 4;
constexpr std::size_t kRootData = kDataStart;
constexpr std::size_t kFolderData = kDataStart + 113 + 0;

const Case kCases[] = {
    {"Empty", [](Bytes& b) { b.clear(); }, "too short"},
    {"ShortHeader", [](Bytes& b) { b.resize(15); }, "too short"},
    {"Magic", [](Bytes& b) { b[3] = 'G'; }, "QVSF"},
    {"TableOffset", [](Bytes& b) { setLe32(b, 4, 32); }, "offset 16"},
    {"CountPastEnd", [](Bytes& b) { setLe32(b, 8, 0x10000000); }, "cut short"},
    {"DataStartPastEnd", [](Bytes& b) { setLe32(b, 12, 0x7FFFFFFF); }, "data area"},
    {"DataStartInTable", [](Bytes& b) { setLe32(b, 12, 20); }, "data area"},
    {"UnknownType", [](Bytes& b) { setLe32(b, field(3, 0), 8); }, "unknown type"},
    {"DataPastEnd", [](Bytes& b) { setLe32(b, field(2, 3), 0x1000); }, "outside the file"},
    {"OffsetWraps", [](Bytes& b) { setLe32(b, field(2, 2), 0xFFFFFFFF); }, "outside the file"},
    {"RootNotFolder", [](Bytes& b) { setLe32(b, field(0, 0), 5); }, "root"},
    {"FolderTooShort", [](Bytes& b) { setLe32(b, field(1, 3), 5); }, "too short"},
    {"NamedOverCount", [](Bytes& b) { setLe32(b, kRootData + 4, 3); }, "more named"},
    {"ChildCountHuge", [](Bytes& b) { setLe32(b, kRootData, 0x40000000); }, "outside its data"},
    {"PoolPastData", [](Bytes& b) { setLe32(b, kRootData + 8, 500); }, "outside its data"},
    {"PoolStartNotEmpty", [](Bytes& b) { b[kRootData + 108] = 'q'; }, "empty name"},
    {"NameOffsetPastPool", [](Bytes& b) { setLe32(b, kRootData + 12 + 8, 99); }, "name pool"},
    {"NameWithoutEnd", [](Bytes& b) { b[kRootData + 112] = 'z'; }, "name pool"},
    {"NamesOutOfOrder", [](Bytes& b) { b[kRootData + 109] = 'z'; }, "ascending"},
    {"DuplicateIds", [](Bytes& b) { setLe32(b, kRootData + 24 + 4, 0xFFFFFFFE); }, "id"},
    {"UnnamedWithName",
     [](Bytes& b) {
         setLe32(b, kRootData + 4, 1);  // "n" is no longer named but keeps its offset
     },
     "unnamed"},
    {"ChildOutsideTable", [](Bytes& b) { setLe32(b, kRootData + 12, 77); },
     "outside the entry table"},
    {"ChildIsRoot", [](Bytes& b) { setLe32(b, kRootData + 12, 0); }, "outside the entry table"},
    {"FolderListsItself",
     [](Bytes& b) {
         setLe32(b, kFolderData + 12, 1);  // "a" lists itself as "s"
     },
     "another folder"},
    {"ParentMismatch", [](Bytes& b) { setLe32(b, field(2, 1), 0); }, "another folder"},
    {"ChildIsFree", [](Bytes& b) { setLe32(b, field(3, 0), 0); }, "free entry"},
    {"ListedTwice",
     [](Bytes& b) {
         setLe32(b, kRootData + 24, 1);  // "n" points at folder "a" too
     },
     "twice"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MalformedFileTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MalformedFileTest, ParentCycleAndDeepNestingAreRefused) {
    test::TempDir dir;
    // Folders 1 and 2 list each other; the root lists 1.
    {
        RawFile f;
        f.dataEntry(1, -1, test::folderData({{1, -2, "a"}}));
        f.dataEntry(1, 2, test::folderData({{2, -2, "b"}}));
        f.dataEntry(1, 1, test::folderData({{1, -2, "c"}}));
        test::writeFile(dir / "cycle.mzp", f.build());
        FileStorage storage;
        EXPECT_FALSE(storage.open(dir / "cycle.mzp", FileStorage::kReadOnly));
        EXPECT_FALSE(storage.error().empty());
    }
    // A chain of 600 folders.
    {
        RawFile f;
        const std::uint32_t depth = 600;
        for (std::uint32_t i = 0; i <= depth; ++i) {
            const auto children = i < depth ? std::vector<test::RawChild>{{i + 1, -2, "d"}}
                                            : std::vector<test::RawChild>{};
            f.dataEntry(1, static_cast<std::int32_t>(i) - 1, test::folderData(children));
        }
        test::writeFile(dir / "deep.mzp", f.build());
        FileStorage storage;
        EXPECT_FALSE(storage.open(dir / "deep.mzp", FileStorage::kReadOnly));
        EXPECT_NE(storage.error().find("deeply"), std::string::npos) << storage.error();
    }
}

TEST(MalformedFileTest, FuzzerFindingsStayFixed) {
    // Inputs the fuzzer once broke the store with; each must either be refused or survive
    // editing and reopen.
    const std::filesystem::path data = std::filesystem::path(PICTOMOVE_STORE_TEST_DATA);
    test::TempDir dir;
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().filename().string().rfind("crash-", 0) != 0) {
            continue;
        }
        ++seen;
        SCOPED_TRACE(entry.path().filename().string());
        const auto path = dir / "f.mzp";
        std::filesystem::copy_file(entry.path(), path,
                                   std::filesystem::copy_options::overwrite_existing);
        FileStorage storage;
        if (!storage.open(path, FileStorage::kOpenExisting)) {
            EXPECT_FALSE(storage.error().empty());
            continue;
        }
        StoreKeyPtr root = storage.root();
        char name[300];
        if (root->valueName(0, name, sizeof name)) {
            root->deleteValue(name);
        }
        root->createPath("x\\y");
        root.reset();
        storage.close();
        FileStorage again;
        EXPECT_TRUE(again.open(path, FileStorage::kReadOnly)) << again.error();
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace pm
