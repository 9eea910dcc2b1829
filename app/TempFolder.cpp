#include "app/TempFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/AppIdentity.h"

namespace pm {

namespace {

void setError(std::string* error, const std::filesystem::path& folder, const std::string& why) {
    if (error != nullptr) {
        *error = folder.string() + ": " + why;
    }
}

// Deletes the files of the folder, never following links and never entering sub-folders.
void emptyFolder(const std::filesystem::path& folder, const std::string& keep) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().filename() == keep) {
            continue;
        }
        std::error_code typeError;
        if (entry.is_directory(typeError) && !entry.is_symlink(typeError)) {
            continue;
        }
        ::unlink(entry.path().c_str());
    }
}

}  // namespace

TempFolder::~TempFolder() {
    release();
}

std::string TempFolder::lockFileName() {
    return std::string(kApplicationName) + kInstanceLockSuffix + ".lock";
}

std::filesystem::path TempFolder::folderFor(const std::filesystem::path& base) {
    struct stat st {};
    if (::stat(base.c_str(), &st) == 0 && (st.st_mode & S_IWOTH) != 0) {
        return base / (std::string(kApplicationName) + "-" + std::to_string(::geteuid()));
    }
    return base / kApplicationName;
}

bool TempFolder::acquire(const std::filesystem::path& folder, std::string* error) {
    release();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, folder, std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setError(error, folder, "not a folder");
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        setError(error, folder, "the folder belongs to another user");
        return false;
    }
    const std::filesystem::path lockPath = folder / lockFileName();
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        setError(error, lockPath, std::strerror(errno));
        return false;
    }
    // Whoever gets the lock alone is the first instance. Everyone else waits for a shared lock,
    // which the first grants only once it has finished cleaning.
    bool first = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (first) {
        emptyFolder(folder, lockFileName());
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        setError(error, lockPath, std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_folder = folder;
    m_fd = fd;
    m_first = first;
    return true;
}

void TempFolder::release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
    m_fd = -1;
    m_first = false;
}

}  // namespace pm
