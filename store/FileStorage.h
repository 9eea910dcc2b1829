#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "store/StoreKeyPtr.h"

namespace pm {

namespace detail {
class FileBackend;
}

// A store kept in one file ("QVSF" header, entry table, data area). The owner holds the root
// open from open() to close(); keys handed out keep the storage alive, and it writes itself
// back when the last of them is released.
class FileStorage {
public:
    // Mode flags. 0 opens an existing file read-only; any flag makes the store writable:
    // OpenExisting needs the file, OpenOrCreate creates it when missing, CreateNew always
    // starts an empty store. A created store replaces the file of that name only at close.
    static constexpr unsigned kReadOnly = 0;
    static constexpr unsigned kOpenExisting = 1;
    static constexpr unsigned kOpenOrCreate = 2;
    static constexpr unsigned kCreateNew = 4;

    FileStorage();
    FileStorage(const FileStorage&) = delete;
    FileStorage& operator=(const FileStorage&) = delete;
    ~FileStorage();

    // False with a reason in error() when the file cannot be opened or is malformed.
    bool open(const std::filesystem::path& path, unsigned mode);
    bool isOpen() const;
    // A new handle on the root folder; null when not open or when a read-only file is empty.
    StoreKeyPtr root() const;
    // Releases the owner's hold. True only when the storage really closed and wrote its file;
    // false while other handles are still open (it closes when they go) or when writing failed.
    bool close();
    const std::string& error() const;

private:
    std::shared_ptr<detail::FileBackend> m_backend;
    StoreKeyPtr m_root;
    std::string m_error;
};

}  // namespace pm
