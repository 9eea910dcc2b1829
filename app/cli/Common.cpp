#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/SystemFolders.h"
#include "app/cli/Commands.h"

namespace pm::cli {

int fail(const std::string& message) {
    std::fprintf(stderr, "pictomove: %s\n", message.c_str());
    return kFailure;
}

int usage(const std::string& problem, const char* usageLine) {
    std::fprintf(stderr, "pictomove: %s\nusage: %s\n", problem.c_str(), usageLine);
    return kUsage;
}

namespace {

std::string outputProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(path);
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    const fs::file_status folderStatus = fs::status(folder, error);
    if (!fs::exists(folderStatus)) {
        return "the folder " + folder.string() + " does not exist";
    }
    if (!fs::is_directory(folderStatus)) {
        return folder.string() + " is not a folder";
    }
    const fs::file_status fileStatus = fs::status(file, error);
    if (fs::is_directory(fileStatus)) {
        return "it is a folder";
    }
    // New files need a folder that takes them; a project save makes even an existing file anew.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "the folder " + folder.string() + " cannot be written to (" + std::strerror(errno) +
               ")";
    }
    if (fs::exists(fileStatus) && ::access(file.c_str(), W_OK) != 0) {
        return std::strerror(errno);
    }
    return {};
}

}  // namespace

int checkOutput(const std::string& path) {
    const std::string problem = outputProblem(path);
    return problem.empty() ? kSuccess : fail("cannot write " + path + ": " + problem);
}

std::string pluginFolder() {
    return SystemFolders::installPrefix() + "/plugins";
}

}  // namespace pm::cli
