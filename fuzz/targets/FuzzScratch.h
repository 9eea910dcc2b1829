#pragma once

// A file for the bytes of one fuzz input, in memory when the machine has /dev/shm: the readers
// under test take paths.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace pm::fuzz {

inline std::filesystem::path scratchFolder() {
    static const std::filesystem::path folder = [] {
        const char* shm = "/dev/shm";
        const std::filesystem::path base =
            std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        const std::filesystem::path own = base / ("pictomove-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(own);
        return own;
    }();
    return folder;
}

// Writes the input to `name` in the scratch folder and returns its path.
inline std::string writeScratch(const std::string& name, const std::uint8_t* data,
                                std::size_t size) {
    const std::string path = (scratchFolder() / name).string();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

}  // namespace pm::fuzz
