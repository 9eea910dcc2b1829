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

// kSuccess when a file can be written at `path`; otherwise prints why not (its folder is missing
// or not writable, or the path is a folder) and returns kFailure. Commands check before any work
// is done for the file, since the writers themselves can only say that they failed.
int checkOutput(const std::string& path);

// Where the program's exporter modules are: "plugins" beside the executable.
std::string pluginFolder();

}  // namespace pm::cli
