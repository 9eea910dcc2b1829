#include "app/TempFileList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pm {

namespace {

// Gives up after this many names in a row that are taken; a folder that full is a fault
// somewhere else, and looping on would never end.
constexpr unsigned long long kMaxSkipped = 100000;

}  // namespace

TempFileList::TempFileList(std::filesystem::path folder) : m_folder(std::move(folder)) {}

TempFileList::~TempFileList() {
    deleteAll();
}

std::string TempFileList::create(std::string_view extension) {
    std::string suffix = extension.empty() ? std::string(".tmp") : std::string(extension);
    if (suffix.front() != '.') {
        suffix.insert(suffix.begin(), '.');
    }
    if (m_folder.empty() || suffix.find('/') != std::string::npos) {
        return {};
    }
    for (unsigned long long tries = 0; tries < kMaxSkipped; ++tries) {
        const unsigned long long n = m_next++;
        const std::string path = (m_folder / ("pcmv" + std::to_string(n) + suffix)).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            m_files.push_back(path);
            return path;
        }
        if (errno != EEXIST) {
            // A missing or read-only folder fails the same way for every number.
            --m_next;
            return {};
        }
    }
    return {};
}

void TempFileList::deleteAll() {
    for (const auto& file : m_files) {
        ::unlink(file.c_str());
    }
    m_files.clear();
}

}  // namespace pm
