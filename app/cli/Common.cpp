#include <unistd.h>

#include <cstdio>
#include <filesystem>

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

std::string pluginFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "plugins";
    }
    return (exe.parent_path() / "plugins").string();
}

}  // namespace pm::cli
