// Opens arbitrary bytes as a store file, walks and reads everything, then edits a writable copy.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace {

const std::filesystem::path& scratchPath() {
    static const std::filesystem::path path = [] {
        const char* shm = "/dev/shm";
        const std::filesystem::path folder =
            std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        return folder / ("pictomove-fuzz-" + std::to_string(::getpid()) + ".mzp");
    }();
    return path;
}

void walk(pm::StoreKey& key, int depth) {
    char name[300];
    std::vector<unsigned char> buffer(64);
    for (int i = 0; key.valueName(i, name, sizeof name); ++i) {
        const std::int64_t size = key.valueSize(name);
        key.valueType(name);
        key.getInt(name, 0);
        key.getInt64(name, 0);
        key.getDouble(name, 0);
        key.readString(name);
        key.readWideString(name);
        key.getBinary(name, buffer.data(), buffer.size(), nullptr);
        if (size > 0 && size < (1 << 20)) {
            std::vector<unsigned char> all(static_cast<std::size_t>(size));
            key.getBinary(name, all.data(), all.size(), nullptr);
        }
        key.getCompressed(name, buffer.data(), buffer.size(), nullptr);
        key.compressedSize(name);
        pm::Guid g;
        key.getGuid(name, g, pm::Guid{});
        key.hasGuard(name);
    }
    for (int i = 0; key.childName(i, name, sizeof name); ++i) {
        if (pm::StoreKeyPtr child = key.openChild(name)) {
            walk(*child, depth + 1);
        }
    }
}

void write(const std::uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (f == nullptr) {
        std::abort();
    }
    if (size > 0) {
        std::fwrite(data, 1, size, f);
    }
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    write(data, size);
    {
        pm::FileStorage storage;
        if (!storage.open(scratchPath(), pm::FileStorage::kReadOnly)) {
            if (storage.error().empty()) {
                std::abort();  // a refusal must say why
            }
            return 0;
        }
        if (pm::StoreKeyPtr root = storage.root()) {
            walk(*root, 0);
        }
        storage.close();
    }
    {
        // Edits on an accepted file: delete, grow and add, then let close rebuild it.
        pm::FileStorage storage;
        if (storage.open(scratchPath(), pm::FileStorage::kOpenExisting)) {
            pm::StoreKeyPtr root = storage.root();
            char name[300];
            if (root->childName(0, name, sizeof name)) {
                if (pm::StoreKeyPtr child = root->openChild(name)) {
                    child->setString("fuzz", "a longer value than before");
                    child->copyAll(*root, true);
                }
                root->moveChild(name, "moved", root.get(), true);
            }
            if (root->valueName(0, name, sizeof name)) {
                root->deleteValue(name);
            }
            root->createPath("x\\y\\z");
            root.reset();
            storage.close();
            pm::FileStorage reread;
            if (!reread.open(scratchPath(), pm::FileStorage::kReadOnly)) {
                std::abort();  // what we wrote must open again
            }
        }
    }
    return 0;
}
