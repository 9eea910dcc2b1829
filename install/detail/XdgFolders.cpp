#include "install/detail/XdgFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace pm {

namespace {

bool isAbsolute(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::optional<std::string> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || !isAbsolute(value)) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> homeFolder() {
    if (auto home = absoluteEnv("HOME")) {
        return withoutTrailingSlashes(*home);
    }
    // HOME can be missing when the setup program is started by a service; ask the user database.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || !isAbsolute(found->pw_dir)) {
        return std::nullopt;
    }
    return withoutTrailingSlashes(found->pw_dir);
}

std::optional<std::string> existingDirectory(std::string path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        return std::nullopt;
    }
    return withoutTrailingSlashes(std::move(path));
}

void skipBlanks(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
}

bool consume(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

// One line of the form  XDG_DOCUMENTS_DIR="$HOME/Documents"  or  XDG_DOCUMENTS_DIR="/abs/path".
std::optional<std::string> documentsDirFromLine(std::string_view line, const std::string& home) {
    skipBlanks(line);
    if (!consume(line, "XDG_DOCUMENTS_DIR")) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "=")) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "\"")) {
        return std::nullopt;
    }
    std::string path;
    if (consume(line, "$HOME")) {
        if (!line.empty() && line.front() != '/' && line.front() != '"') {
            return std::nullopt;  // "$HOMEWORK" is not the home folder
        }
        path = home;
    } else if (line.empty() || line.front() != '/') {
        return std::nullopt;  // only absolute or home-relative values are allowed
    }
    bool closed = false;
    while (!line.empty()) {
        char c = line.front();
        line.remove_prefix(1);
        if (c == '"') {
            closed = true;
            break;
        }
        if (c == '\\' && !line.empty()) {
            c = line.front();
            line.remove_prefix(1);
        }
        path.push_back(c);
    }
    if (!closed || path.empty()) {
        return std::nullopt;
    }
    return withoutTrailingSlashes(std::move(path));
}

}  // namespace

std::optional<std::string> XdgFolders::documentsDirFromUserDirs(const std::string& text,
                                                                const std::string& home) {
    std::optional<std::string> result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (auto dir = documentsDirFromLine(line, home)) {
            result = std::move(dir);
        }
    }
    return result;
}

std::optional<std::string> XdgFolders::documentsFolder() const {
    const auto home = homeFolder();
    if (!home) {
        return std::nullopt;
    }
    const std::string configHome = absoluteEnv("XDG_CONFIG_HOME").value_or(*home + "/.config");
    std::ifstream file(configHome + "/user-dirs.dirs", std::ios::binary);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        if (auto dir = documentsDirFromUserDirs(text.str(), *home)) {
            return existingDirectory(*dir);
        }
    }
    return existingDirectory(*home + "/Documents");
}

std::optional<std::string> XdgFolders::sharedDataFolder() const {
    // The XDG base directory rules ignore relative entries, so the first absolute one counts.
    if (const char* dirs = std::getenv("XDG_DATA_DIRS")) {
        std::string_view rest(dirs);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const std::string_view entry = rest.substr(0, colon);
            if (isAbsolute(entry)) {
                return existingDirectory(std::string(entry));
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return existingDirectory("/usr/share");
}

}  // namespace pm
