#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/SystemFolders.h"
#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/OutputFile.h"

namespace pm::cli {

int fail(const std::string& message) {
    std::fprintf(stderr, "pictomove: %s\n", message.c_str());
    return kFailure;
}

int usage(const std::string& problem, const char* usageLine) {
    std::fprintf(stderr, "pictomove: %s\nusage: %s\n", problem.c_str(), usageLine);
    return kUsage;
}

std::optional<int> parseCommand(Arguments& args, const std::vector<std::string>& words,
                                const char* usageLine, const char* helpText) {
    if (!args.parse(words)) {
        return usage(args.error(), usageLine);
    }
    if (args.flag("--help")) {
        std::printf("usage: %s\n%s", usageLine, helpText);
        return kSuccess;
    }
    return std::nullopt;
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

std::vector<std::string> pluginFolders() {
    std::vector<std::string> folders{pluginFolder()};
    if (const char* extra = std::getenv("PICTOMOVE_PLUGINS")) {
        std::string list = extra;
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            if (end > start) {
                folders.push_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    return folders;
}

int refuseInputAsOutput(const std::string& output, const std::vector<std::string>& inputs) {
    const std::string input = inputOverwrittenBy(output, inputs);
    if (input.empty()) {
        return kSuccess;
    }
    std::fprintf(stderr,
                 "pictomove: refusing to write %s: it is %s, which this command reads; choose "
                 "another output\n",
                 output.c_str(), input.c_str());
    return kUsage;
}

std::string extensionOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

void note(const std::string& text) {
    std::fprintf(stderr, "pictomove: note: %s\n", text.c_str());
}

void noteFitted(double aspect, int width, int height) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the project's %.2f:1 picture is fitted inside %dx%d, with bars of its "
                  "background colour",
                  aspect, width, height);
    note(text);
}

void warn(const std::string& text) {
    std::fprintf(stderr, "pictomove: warning: %s\n", text.c_str());
}

}  // namespace pm::cli
