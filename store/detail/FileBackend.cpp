#include "store/detail/FileBackend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pm::detail {

namespace {

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 16;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::size_t kCacheBlock = 64 * 1024;
constexpr std::size_t kCachedReadLimit = 4096;
constexpr std::uint64_t kInPlaceMinimum = 1u << 20;

bool preadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool pwriteAll(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool copyRange(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
               std::uint64_t size) {
    while (size > 0) {
        auto in = static_cast<off_t>(fromOffset);
        auto out = static_cast<off_t>(toOffset);
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // not supported here: copy through a buffer
        }
        fromOffset += static_cast<std::uint64_t>(n);
        toOffset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    std::vector<unsigned char> buffer(size > 0 ? std::min<std::uint64_t>(size, 1 << 20) : 0);
    while (size > 0) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer.size()));
        if (!preadAll(from, buffer.data(), chunk, fromOffset) ||
            !pwriteAll(to, buffer.data(), chunk, toOffset)) {
            return false;
        }
        fromOffset += chunk;
        toOffset += chunk;
        size -= chunk;
    }
    return true;
}

std::string systemError() {
    return std::strerror(errno);
}

void syncFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

RenameFunction& renameFunction() {
    static RenameFunction function = &std::rename;
    return function;
}

std::filesystem::path rebuildPath(const std::filesystem::path& path) {
    // Only the file name's extension counts: a dot in a folder name must not move the
    // temporary file into another folder.
    std::filesystem::path result = path;
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    result.replace_filename(dot == std::string::npos ? name + ".BAK"
                                                     : name.substr(0, dot) + ".BAK");
    return result;
}

FileBackend::FileBackend(std::filesystem::path path, bool readOnly)
    : Storage(readOnly), m_path(std::move(path)) {}

FileBackend::~FileBackend() {
    closeFile();
}

void FileBackend::closeFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::shared_ptr<FileBackend> FileBackend::open(const std::filesystem::path& path, unsigned mode,
                                               std::string& error) {
    const bool writable = (mode & 7u) != 0;
    std::shared_ptr<FileBackend> store(new FileBackend(path, !writable));
    bool ok = false;
    if (!writable) {
        ok = store->openExisting(false);
    } else {
        bool opened = false;
        if ((mode & 3u) != 0 && (mode & 4u) == 0) {
            opened = store->openExisting(true);
            ok = opened;
            // Only a missing file may be created anew; any other failure stands.
            if (!opened && (mode & 2u) != 0 && !std::filesystem::exists(path)) {
                store->m_error.clear();
                ok = store->createScratch();
            }
        } else if ((mode & 4u) != 0) {
            ok = store->createScratch();
        }
    }
    if (!ok) {
        error = store->m_error;
        return nullptr;
    }
    if (writable && store->m_entries.empty()) {
        // The root reaches the file together with the first change.
        store->m_entries.push_back(StoreEntry{EntryType::Folder, -1, 0, 0});
    }
    store->m_open = true;
    return store;
}

bool FileBackend::openExisting(bool writable) {
    const std::string name = m_path.string();
    m_fd = ::open(m_path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (m_fd < 0) {
        fail(name + ": cannot open the file (" + systemError() + ")");
        return false;
    }
    if (writable && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        fail(name + ": the file is being written by another program");
        closeFile();
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(name + ": not a regular file");
        closeFile();
        return false;
    }
    m_fileMode = st.st_mode & 07777;
    m_fileSize = static_cast<std::uint64_t>(st.st_size);
    if (!readHeaderAndTable()) {
        m_error = name + ": " + m_error;
        closeFile();
        return false;
    }
    return true;
}

bool FileBackend::readHeaderAndTable() {
    unsigned char header[kHeaderSize];
    if (m_fileSize < kHeaderSize || !preadAll(m_fd, header, kHeaderSize, 0)) {
        fail("the file is too short to be a store file");
        return false;
    }
    if (std::memcmp(header, "QVSF", 4) != 0) {
        fail("not a store file (the QVSF signature is missing)");
        return false;
    }
    if (loadLe32(header + 4) != kHeaderSize) {
        fail("the entry table does not start at offset 16");
        return false;
    }
    const std::uint64_t count = loadLe32(header + 8);
    m_dataStart = loadLe32(header + 12);
    if (count > (m_fileSize - kHeaderSize) / kEntrySize || count > kMaxEntries) {
        fail("the entry table is cut short");
        return false;
    }
    if (m_dataStart < kHeaderSize + count * kEntrySize || m_dataStart > m_fileSize) {
        fail("the data area overlaps the entry table or starts past the end of the file");
        return false;
    }
    std::vector<unsigned char> table(static_cast<std::size_t>(count * kEntrySize));
    if (!table.empty() && !preadAll(m_fd, table.data(), table.size(), kHeaderSize)) {
        fail("the entry table cannot be read");
        return false;
    }
    const std::uint64_t areaSize = m_fileSize - m_dataStart;
    m_entries.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const unsigned char* r = table.data() + i * kEntrySize;
        const std::uint32_t type = loadLe32(r);
        if (type > static_cast<std::uint32_t>(EntryType::WideString)) {
            fail("entry " + std::to_string(i) + " has an unknown type " + std::to_string(type));
            return false;
        }
        StoreEntry& e = m_entries[i];
        e = StoreEntry{static_cast<EntryType>(type), static_cast<std::int32_t>(loadLe32(r + 4)),
                       loadLe32(r + 8), loadLe32(r + 12)};
        if (holdsData(e.type) && std::uint64_t{e.low} + e.high > areaSize) {
            fail("the data of entry " + std::to_string(i) + " lies outside the file");
            return false;
        }
    }
    return validateTree();
}

bool FileBackend::createScratch() {
    const std::filesystem::path folder =
        m_path.has_parent_path() ? m_path.parent_path() : std::filesystem::path(".");
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        // Filesystems without unnamed files: a named one, removed at once.
        std::string pattern = (folder / ".pictomove-XXXXXX").string();
        m_fd = ::mkstemp(pattern.data());
        if (m_fd >= 0) {
            ::unlink(pattern.c_str());
        }
    }
    if (m_fd < 0) {
        fail(m_path.string() + ": cannot create the file (" + systemError() + ")");
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    m_fileMode = 0666 & ~mask;
    unsigned char header[kHeaderSize];
    std::memcpy(header, "QVSF", 4);
    storeLe32(header + 4, kHeaderSize);
    storeLe32(header + 8, 0);
    storeLe32(header + 12, kHeaderSize);
    if (!pwriteAll(m_fd, header, kHeaderSize, 0)) {
        fail(m_path.string() + ": cannot write the file (" + systemError() + ")");
        closeFile();
        return false;
    }
    m_scratch = true;
    m_dataStart = kHeaderSize;
    m_fileSize = kHeaderSize;
    return true;
}

bool FileBackend::readArea(std::uint64_t offset, void* buffer, std::size_t size) {
    if (m_fd < 0 || offset + size > m_fileSize - m_dataStart) {
        return false;
    }
    const std::uint64_t at = m_dataStart + offset;
    if (size > kCachedReadLimit) {
        return preadAll(m_fd, buffer, size, at);
    }
    if (at < m_cacheStart || at + size > m_cacheStart + m_cache.size()) {
        m_cacheStart = at;
        m_cache.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(kCacheBlock, m_fileSize - at)));
        if (!preadAll(m_fd, m_cache.data(), m_cache.size(), at)) {
            m_cache.clear();
            return false;
        }
    }
    std::memcpy(buffer, m_cache.data() + (at - m_cacheStart), size);
    return true;
}

bool FileBackend::writeData(std::uint32_t entry, const void* data, std::size_t size) {
    StoreEntry& e = m_entries[entry];
    m_cache.clear();
    if (size > e.high) {
        if (!roomToAppend(size)) {
            return false;
        }
        if (!pwriteAll(m_fd, data, size, m_fileSize)) {
            m_error = m_path.string() + ": cannot write the file (" + systemError() + ")";
            return false;
        }
        placeAppended(entry, size);
        return true;
    }
    if (size > 0 && !pwriteAll(m_fd, data, size, m_dataStart + std::uint64_t{e.low})) {
        m_error = m_path.string() + ": cannot write the file (" + systemError() + ")";
        return false;
    }
    if (size != e.high) {
        e.high = static_cast<std::uint32_t>(size);
        m_tableDirty = true;
        m_compact = true;
    }
    return true;
}

bool FileBackend::writeDataFrom(std::uint32_t entry, std::uint64_t size,
                                const std::function<bool(void*, std::size_t)>& read) {
    // Appended at the end of the file a piece at a time; the entry moves there once all of it is
    // written, so a failure leaves the old value as it was.
    constexpr std::size_t kPiece = 1 << 20;
    if (!roomToAppend(size)) {
        return false;
    }
    m_cache.clear();
    std::vector<unsigned char> piece(
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kPiece)));
    for (std::uint64_t done = 0; done < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - done));
        if (!read(piece.data(), n)) {
            return false;
        }
        if (!pwriteAll(m_fd, piece.data(), n, m_fileSize + done)) {
            m_error = m_path.string() + ": cannot write the file (" + systemError() + ")";
            return false;
        }
        done += n;
    }
    placeAppended(entry, size);
    return true;
}

bool FileBackend::roomToAppend(std::uint64_t size) {
    if (m_fileSize - m_dataStart + size > kMax32) {
        m_error = m_path.string() + ": the file would grow past 4 GB";
        return false;
    }
    return true;
}

void FileBackend::placeAppended(std::uint32_t entry, std::uint64_t size) {
    StoreEntry& e = m_entries[entry];
    e.low = static_cast<std::uint32_t>(m_fileSize - m_dataStart);
    e.high = static_cast<std::uint32_t>(size);
    m_fileSize += size;
    m_tableDirty = true;
    m_compact = true;
}

void FileBackend::releaseData(std::uint32_t) {
    m_compact = true;
}

bool FileBackend::closeIdle() {
    if (!m_open || openNodeCount() > 0) {
        return true;
    }
    m_open = false;
    return finish();
}

bool FileBackend::finish() {
    if (isReadOnly() || (!m_tableDirty && !m_compact && !m_scratch)) {
        closeFile();
        return true;
    }
    if (!m_tableDirty && !m_compact) {
        m_entries.clear();  // nothing changed: a new store keeps just its header
    }
    while (m_entries.size() > 1 && m_entries.back().type == EntryType::Free) {
        m_entries.pop_back();
    }
    const std::uint64_t tableEnd = kHeaderSize + std::uint64_t{kEntrySize} * m_entries.size();
    if (m_scratch && placeTableInFront()) {
        closeFile();
        return true;
    }
    if (m_renameFailed) {
        closeFile();  // the complete new store stays in the ".BAK" file
        return false;
    }
    if (m_scratch || m_compact || tableEnd > m_dataStart) {
        const bool ok = rebuild();
        closeFile();
        return ok;
    }
    std::vector<unsigned char> table(static_cast<std::size_t>(tableEnd));
    std::memcpy(table.data(), "QVSF", 4);
    storeLe32(table.data() + 4, kHeaderSize);
    storeLe32(table.data() + 8, static_cast<std::uint32_t>(m_entries.size()));
    storeLe32(table.data() + 12, m_dataStart);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        unsigned char* r = table.data() + kHeaderSize + i * kEntrySize;
        storeLe32(r, static_cast<std::uint32_t>(m_entries[i].type));
        storeLe32(r + 4, static_cast<std::uint32_t>(m_entries[i].parent));
        storeLe32(r + 8, m_entries[i].low);
        storeLe32(r + 12, m_entries[i].high);
    }
    const bool ok = pwriteAll(m_fd, table.data(), table.size(), 0) && ::fdatasync(m_fd) == 0;
    if (!ok) {
        m_error = m_path.string() + ": cannot write the file (" + systemError() + ")";
    }
    closeFile();
    return ok;
}

bool FileBackend::placeTableInFront() {
    // Copying gigabytes of pictures once more at every save would double its cost. A new store
    // whose data area holds no dead bytes keeps its data where it is: room for the table is
    // inserted in front of it, and the file gets the ".BAK" name before it replaces the store.
    // Small stores take the ordinary rebuild, which gives the compact entry-order layout.
    std::uint64_t live = 0;
    for (const StoreEntry& e : m_entries) {
        if (holdsData(e.type)) {
            live += e.high;
        }
    }
    if (live < kInPlaceMinimum || live != m_fileSize - m_dataStart) {
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || st.st_blksize <= 0) {
        return false;
    }
    const auto block = static_cast<std::uint64_t>(st.st_blksize);
    const std::uint64_t tableEnd = kHeaderSize + std::uint64_t{kEntrySize} * m_entries.size();
    const std::uint64_t room = (tableEnd + block - 1) / block * block;
    if (room + m_dataStart > kMax32 ||
        ::fallocate(m_fd, FALLOC_FL_INSERT_RANGE, 0, static_cast<off_t>(room)) != 0) {
        return false;
    }
    m_dataStart = static_cast<std::uint32_t>(m_dataStart + room);
    m_fileSize += room;
    m_cache.clear();
    std::vector<unsigned char> table(static_cast<std::size_t>(tableEnd));
    std::memcpy(table.data(), "QVSF", 4);
    storeLe32(table.data() + 4, kHeaderSize);
    storeLe32(table.data() + 8, static_cast<std::uint32_t>(m_entries.size()));
    storeLe32(table.data() + 12, m_dataStart);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        unsigned char* r = table.data() + kHeaderSize + i * kEntrySize;
        storeLe32(r, static_cast<std::uint32_t>(m_entries[i].type));
        storeLe32(r + 4, static_cast<std::uint32_t>(m_entries[i].parent));
        storeLe32(r + 8, m_entries[i].low);
        storeLe32(r + 12, m_entries[i].high);
    }
    const std::filesystem::path temp = rebuildPath(m_path);
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    ::unlink(temp.c_str());
    if (!pwriteAll(m_fd, table.data(), table.size(), 0) || ::fchmod(m_fd, m_fileMode) != 0 ||
        ::fsync(m_fd) != 0 ||
        ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return false;  // the ordinary rebuild still reads the data through the new data start
    }
    if (renameFunction()(temp.c_str(), m_path.c_str()) != 0) {
        m_error = m_path.string() + ": cannot replace the file by " + temp.string() + " (" +
                  systemError() + ")";
        m_renameFailed = true;
        return false;
    }
    syncFolder(m_path);
    return true;
}

bool FileBackend::rebuild() {
    const std::filesystem::path temp = rebuildPath(m_path);
    // A fresh file: an old ".BAK" might be another name of the very file being copied.
    ::unlink(temp.c_str());
    const int out = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, m_fileMode);
    if (out < 0) {
        m_error = temp.string() + ": cannot create the file (" + systemError() + ")";
        return false;
    }
    const auto count = static_cast<std::uint32_t>(m_entries.size());
    const std::uint64_t dataStart = kHeaderSize + std::uint64_t{kEntrySize} * count;
    bool ok = dataStart <= kMax32;
    std::vector<unsigned char> table(static_cast<std::size_t>(dataStart));
    std::uint64_t pos = 0;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        StoreEntry e = m_entries[i];
        if (holdsData(e.type)) {
            ok = pos + e.high <= kMax32 &&
                 copyRange(m_fd, m_dataStart + std::uint64_t{e.low}, out, dataStart + pos, e.high);
            e.low = static_cast<std::uint32_t>(pos);
            pos += e.high;
        }
        unsigned char* r = table.data() + kHeaderSize + std::size_t{i} * kEntrySize;
        storeLe32(r, static_cast<std::uint32_t>(e.type));
        storeLe32(r + 4, static_cast<std::uint32_t>(e.parent));
        storeLe32(r + 8, e.low);
        storeLe32(r + 12, e.high);
    }
    if (ok) {
        std::memcpy(table.data(), "QVSF", 4);
        storeLe32(table.data() + 4, kHeaderSize);
        storeLe32(table.data() + 8, count);
        storeLe32(table.data() + 12, static_cast<std::uint32_t>(dataStart));
        ok = pwriteAll(out, table.data(), table.size(), 0);
    }
    ok = ok && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    if (!ok) {
        m_error = temp.string() + ": cannot write the file (" + systemError() + ")";
        ::unlink(temp.c_str());
        return false;
    }
    // The store's name moves from the complete old file to the complete new one in one step.
    if (renameFunction()(temp.c_str(), m_path.c_str()) != 0) {
        m_error = m_path.string() + ": cannot replace the file by " + temp.string() + " (" +
                  systemError() + ")";
        return false;
    }
    syncFolder(m_path);
    return true;
}

}  // namespace pm::detail
