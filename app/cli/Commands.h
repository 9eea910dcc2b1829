#pragma once

#include <string>
#include <vector>

namespace pm::cli {

// Exit codes of every subcommand.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

int runRender(const std::vector<std::string>& args);
int runFrame(const std::vector<std::string>& args);
int runInspect(const std::vector<std::string>& args);
int runNew(const std::vector<std::string>& args);

// Prints "pictomove: <message>" to standard error and returns kFailure.
int fail(const std::string& message);
// Prints the problem and the subcommand's usage line, and returns kUsage.
int usage(const std::string& problem, const char* usageLine);

// Where the program's exporter modules are: "plugins" beside the executable.
std::string pluginFolder();

}  // namespace pm::cli
