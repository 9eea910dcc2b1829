#include <cstdio>

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

std::string pluginFolder() {
    return SystemFolders::installPrefix() + "/plugins";
}

}  // namespace pm::cli
