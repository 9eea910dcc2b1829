#pragma once

#include <filesystem>
#include <memory>

#include "store/detail/Storage.h"

namespace pm::detail {

// Replaces a file by another one; tests swap it to make the final step of a rebuild fail.
using RenameFunction = int (*)(const char* from, const char* to);
RenameFunction& renameFunction();

// The path of the temporary file a rebuild writes: the file name's last extension replaced by
// ".BAK", or ".BAK" appended when the name has none.
std::filesystem::path rebuildPath(const std::filesystem::path& path);

// A storage kept in one file: header, entry table, data area.
class FileBackend final : public Storage {
public:
    // mode: 0 read-only; 1 open existing for writing; 2 open or create; 4 always create.
    static std::shared_ptr<FileBackend> open(const std::filesystem::path& path, unsigned mode,
                                             std::string& error);
    ~FileBackend() override;

    // Closes a storage that no node holds (a read-only file without a root).
    bool closeIdle();

protected:
    bool readArea(std::uint64_t offset, void* buffer, std::size_t size) override;
    bool writeData(std::uint32_t entry, const void* data, std::size_t size) override;
    bool writeDataFrom(std::uint32_t entry, std::uint64_t size,
                       const std::function<bool(void*, std::size_t)>& read) override;
    void releaseData(std::uint32_t entry) override;
    bool finish() override;

private:
    FileBackend(std::filesystem::path path, bool readOnly);
    bool openExisting(bool writable);
    bool createScratch();
    bool readHeaderAndTable();
    bool rebuild();
    // Whether `size` more bytes at the end keep the data area within its 4 GB; says why not.
    bool roomToAppend(std::uint64_t size);
    // The entry's value is the `size` bytes just written at the end of the file.
    void placeAppended(std::uint32_t entry, std::uint64_t size);
    bool placeTableInFront();
    void closeFile();

    std::filesystem::path m_path;
    int m_fd = -1;
    // A newly created store lives in an unnamed file until close, so an older file of that name
    // stays whole until the new one replaces it.
    bool m_scratch = false;
    std::uint32_t m_dataStart = 16;
    std::uint64_t m_fileSize = 0;
    bool m_compact = false;
    bool m_renameFailed = false;
    mode_t m_fileMode = 0666;

    // Small reads go through one cached block of the file: sequential reads of small values
    // then cost a copy instead of a system call each.
    std::vector<unsigned char> m_cache;
    std::uint64_t m_cacheStart = 0;
};

}  // namespace pm::detail
