#include "app/SystemFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace pm {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executablePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string xdgConfigHome() {
    const std::string xdg = environment("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/') {
        return xdg;
    }
    const std::string homeFolder = SystemFolders::home();
    return homeFolder.empty() ? std::string() : homeFolder + "/.config";
}

std::string userDir(const char* key, const char* fallbackName) {
    const std::string homeFolder = SystemFolders::home();
    const std::string config = xdgConfigHome();
    if (!config.empty()) {
        std::ifstream in(config + "/user-dirs.dirs");
        if (in) {
            std::stringstream text;
            text << in.rdbuf();
            if (auto dir = SystemFolders::parseUserDir(text.str(), key, homeFolder)) {
                return *dir;
            }
        }
    }
    return homeFolder.empty() ? std::string() : homeFolder + "/" + fallbackName;
}

}  // namespace

std::string SystemFolders::home() {
    std::string homeFolder = environment("HOME");
    if (!homeFolder.empty()) {
        return homeFolder;
    }
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        homeFolder = found->pw_dir;
    }
    return homeFolder;
}

std::string SystemFolders::temporaryBase() {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/' && isFolder(runtime)) {
        return runtime;
    }
    return "/tmp";
}

std::string SystemFolders::executableFolder() {
    const std::string exe = executablePath();
    return exe.empty() ? std::string() : std::filesystem::path(exe).parent_path().string();
}

std::string SystemFolders::executableName() {
    const std::string exe = executablePath();
    return exe.empty() ? std::string() : std::filesystem::path(exe).filename().string();
}

std::string SystemFolders::installPrefix() {
    const std::filesystem::path folder = executableFolder();
    if (folder.filename() == "bin" && folder.has_parent_path()) {
        return folder.parent_path().string();
    }
    return folder.string();
}

std::string SystemFolders::commonFolder(const std::string& prefix) {
    return prefix + "/share/pictomove";
}

std::optional<std::string> SystemFolders::configFolder() {
    const std::string config = xdgConfigHome();
    if (config.empty()) {
        return std::nullopt;
    }
    return config + "/Korvane/Pictomove";
}

std::string SystemFolders::picturesFolder() {
    return userDir("XDG_PICTURES_DIR", "Pictures");
}

std::string SystemFolders::documentsFolder() {
    return userDir("XDG_DOCUMENTS_DIR", "Documents");
}

std::optional<std::string> SystemFolders::parseUserDir(const std::string& text,
                                                       const std::string& key,
                                                       const std::string& homeFolder) {
    std::optional<std::string> result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        line.erase(0, start);
        if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() ||
            line[key.size()] != '=') {
            continue;
        }
        std::string value = line.substr(key.size() + 1);
        if (value.size() < 2 || value.front() != '"') {
            continue;
        }
        const auto close = value.find('"', 1);
        if (close == std::string::npos) {
            continue;
        }
        value = value.substr(1, close - 1);
        // The file allows only "$HOME/..." or an absolute path.
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
            if (homeFolder.empty()) {
                continue;
            }
            value = homeFolder + value.substr(5);
        } else if (value.empty() || value.front() != '/') {
            continue;
        }
        while (value.size() > 1 && value.back() == '/') {
            value.pop_back();
        }
        result = value;  // the last assignment counts, as in a shell
    }
    return result;
}

}  // namespace pm
