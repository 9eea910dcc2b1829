#include "app/PathMacros.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace pm {

namespace {

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string withForwardSlashes(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

}  // namespace

void PathMacros::set(std::string_view name, std::string_view value) {
    std::erase_if(m_entries, [&](const auto& entry) { return sameNoCase(entry.first, name); });
    std::string folder = withForwardSlashes(value);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    m_entries.emplace_back(std::string(name), std::move(folder));
}

std::optional<std::string> PathMacros::value(std::string_view name) const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (sameNoCase(it->first, name)) {
            return it->second;
        }
    }
    return std::nullopt;
}

std::string PathMacros::expand(std::string_view path) const {
    if (path.empty() || path.front() != '{') {
        return std::string(path);
    }
    const auto close = path.find('}');
    if (close == std::string_view::npos) {
        return std::string(path);
    }
    const auto found = value(path.substr(1, close - 1));
    if (!found) {
        return std::string(path);
    }
    return *found + withForwardSlashes(path.substr(close + 1));
}

bool PathMacros::fileExists(std::string_view path) const {
    struct stat st {};
    return ::stat(expand(path).c_str(), &st) == 0;
}

bool PathMacros::createFolderPath(std::string_view path) const {
    const std::string full = expand(path);
    if (full.empty()) {
        return false;
    }
    bool creating = false;
    std::size_t pos = 0;
    while (true) {
        pos = full.find('/', pos + 1);
        const std::string prefix = full.substr(0, pos);
        if (!prefix.empty() && prefix != "/") {
            struct stat st {};
            if (!creating && ::stat(prefix.c_str(), &st) != 0) {
                creating = true;
            }
            if (creating && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
        }
        if (pos == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    return ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t PathMacros::fileTime(std::string_view path) const {
    struct stat st {};
    if (::stat(expand(path).c_str(), &st) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

std::int64_t PathMacros::fileSize(std::string_view path) const {
    struct stat st {};
    if (::stat(expand(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::uint64_t> PathMacros::freeSpace(std::string_view path) const {
    struct statvfs fs {};
    if (::statvfs(expand(path).c_str(), &fs) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace pm
