// Store throughput next to a plain file copy of the same bytes, in the same run.
//   small: 100,000 values (ints and short strings) in 100 nested keys, written then read back;
//   large: 200 binary values of 8 MB (PICTOMOVE_BENCH_LARGE_COUNT overrides the count).
// The store's write includes close: the rebuild through ".BAK" and the flush to disk; the plain
// copy flushes too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace {

namespace fs = std::filesystem;

constexpr int kKeys = 100;
constexpr int kValuesPerKey = 1000;
constexpr std::size_t kLargeSize = 8u << 20;

int largeCount() {
    const char* env = std::getenv("PICTOMOVE_BENCH_LARGE_COUNT");
    return env != nullptr ? std::max(1, std::atoi(env)) : 200;
}

const fs::path& benchDir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "pm-bench-store-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(benchDir(), ec);
        });
        return fs::path(pattern);
    }();
    return dir;
}

std::string keyPath(int k) {
    return "Scenes\\Group" + std::to_string(k / 10) + "\\Scene" + std::to_string(k);
}

void writeSmall(const fs::path& file) {
    pm::FileStorage storage;
    if (!storage.open(file, pm::FileStorage::kCreateNew)) {
        std::abort();
    }
    pm::StoreKeyPtr root = storage.root();
    for (int k = 0; k < kKeys; ++k) {
        pm::StoreKeyPtr key = root->createPath(keyPath(k));
        for (int v = 0; v < kValuesPerKey; ++v) {
            const std::string name = "Value" + std::to_string(v);
            if (v % 2 == 0) {
                key->setInt(name, v);
            } else {
                key->setString(name, "text" + std::to_string(v));
            }
        }
    }
    root.reset();
    if (!storage.close()) {
        std::abort();
    }
}

void BM_SmallWrite(benchmark::State& state) {
    const fs::path file = benchDir() / "small.mzp";
    for (auto _ : state) {
        writeSmall(file);
    }
    state.SetItemsProcessed(state.iterations() * kKeys * kValuesPerKey);
}

void BM_SmallRead(benchmark::State& state) {
    const fs::path file = benchDir() / "small.mzp";
    writeSmall(file);
    std::vector<std::string> names;
    for (int v = 0; v < kValuesPerKey; ++v) {
        names.push_back("Value" + std::to_string(v));
    }
    pm::FileStorage storage;
    if (!storage.open(file, pm::FileStorage::kReadOnly)) {
        std::abort();
    }
    pm::StoreKeyPtr root = storage.root();
    char text[32];
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (int k = 0; k < kKeys; ++k) {
            pm::StoreKeyPtr key = root->openPath(keyPath(k));
            for (int v = 0; v < kValuesPerKey; ++v) {
                if (v % 2 == 0) {
                    sum += key->getInt(names[static_cast<std::size_t>(v)], 0);
                } else {
                    sum +=
                        key->getString(names[static_cast<std::size_t>(v)], text, sizeof text, "");
                }
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys * kValuesPerKey);
}

std::vector<unsigned char> largeBuffer() {
    std::vector<unsigned char> data(kLargeSize);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    }
    return data;
}

void writeLarge(const fs::path& file, const std::vector<unsigned char>& data, int count) {
    pm::FileStorage storage;
    if (!storage.open(file, pm::FileStorage::kCreateNew)) {
        std::abort();
    }
    pm::StoreKeyPtr key = storage.root()->createChild("Pictures");
    for (int i = 0; i < count; ++i) {
        key->setBinary("Picture" + std::to_string(i), data.data(), data.size());
    }
    key.reset();
    if (!storage.close()) {
        std::abort();
    }
}

void BM_LargeWrite(benchmark::State& state) {
    const fs::path file = benchDir() / "large.mzp";
    const auto data = largeBuffer();
    const int count = largeCount();
    for (auto _ : state) {
        writeLarge(file, data, count);
    }
    state.SetBytesProcessed(state.iterations() * count * static_cast<std::int64_t>(kLargeSize));
}

void ensureLarge() {
    const fs::path file = benchDir() / "large.mzp";
    if (!fs::exists(file)) {
        writeLarge(file, largeBuffer(), largeCount());
    }
}

void BM_LargeRead(benchmark::State& state) {
    ensureLarge();
    const fs::path file = benchDir() / "large.mzp";
    const int count = largeCount();
    std::vector<unsigned char> out(kLargeSize);
    for (auto _ : state) {
        pm::FileStorage storage;
        if (!storage.open(file, pm::FileStorage::kReadOnly)) {
            std::abort();
        }
        pm::StoreKeyPtr key = storage.root()->openChild("Pictures");
        for (int i = 0; i < count; ++i) {
            if (key->getBinary("Picture" + std::to_string(i), out.data(), out.size(), nullptr) !=
                static_cast<std::int64_t>(kLargeSize)) {
                std::abort();
            }
        }
    }
    state.SetBytesProcessed(state.iterations() * count * static_cast<std::int64_t>(kLargeSize));
}

// Copies the large store file byte for byte through a 1 MB buffer and flushes the copy.
void BM_PlainCopy(benchmark::State& state) {
    ensureLarge();
    const fs::path from = benchDir() / "large.mzp";
    const fs::path to = benchDir() / "copy.bin";
    std::vector<unsigned char> buffer(1 << 20);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const int in = ::open(from.c_str(), O_RDONLY);
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ssize_t n = 0;
        while ((n = ::read(in, buffer.data(), buffer.size())) > 0) {
            if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
                std::abort();
            }
            bytes += n;
        }
        ::fsync(out);
        ::close(in);
        ::close(out);
    }
    state.SetBytesProcessed(bytes);
    fs::remove(to);
}

BENCHMARK(BM_SmallWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SmallRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_LargeWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_LargeRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
