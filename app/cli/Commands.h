#pragma once

#include <optional>
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

class Arguments;
// Parses a subcommand's words: the code to return at once after a usage error, or after printing
// the usage line and `helpText` for --help; nothing when the command goes on.
std::optional<int> parseCommand(Arguments& args, const std::vector<std::string>& words,
                                const char* usageLine, const char* helpText);

// kSuccess when a file can be written at `path`; otherwise prints why not (its folder is missing
// or not writable, or the path is a folder) and returns kFailure. Commands check before any work
// is done for the file, since the writers themselves can only say that they failed.
int checkOutput(const std::string& path);

// The exit code of a command stopped by Ctrl-C, as shells expect of SIGINT.
inline constexpr int kInterrupted = 130;

// Where the program's exporter modules are: "plugins" beside the executable.
std::string pluginFolder();
// The folders to load exporter modules from: the program's own, then those named in the
// environment variable PICTOMOVE_PLUGINS (separated by ':'), for modules of one's own.
std::vector<std::string> pluginFolders();

// Refuses an output that is one of the command's own inputs (the project, its pictures, its
// sound): kUsage with a message naming both, before any work is done; kSuccess otherwise.
int refuseInputAsOutput(const std::string& output, const std::vector<std::string>& inputs);

// A file name's extension in lower case, without the dot; empty when it has none.
std::string extensionOf(const std::string& path);

// Prints "pictomove: note: <text>" to standard error: a value the command changed.
void note(const std::string& text);
// Prints "pictomove: warning: <text>" to standard error.
void warn(const std::string& text);
// The note that a picture of another shape holds the project's frame fitted inside, with bars.
void noteFitted(double aspect, int width, int height);

}  // namespace pm::cli
