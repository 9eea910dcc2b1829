// pictomove: the editor, or with a subcommand a tool that works without any window.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PixelSettings.h"
#include "app/cli/Commands.h"
#include "app/cli/OutputFile.h"
#include "ui/shell/EditorMain.h"

namespace {

const char* const kHelp =
    "usage: pictomove <command> [options]\n"
    "\n"
    "       pictomove [PROJECT.mzp] [--dialog]   opens the editor\n"
    "\n"
    "Commands (none of them opens a window):\n"
    "  render PROJECT -o OUT [--format mp4|webm|mov|y4m|png|jpg|raw] [--preset NAME]\n"
    "         [--size WxH] [--fps N] [--from T --to T] [--strict] | --list-presets\n"
    "                 render a project to a video file, pictures or raw frames\n"
    "  frame PROJECT --time T -o OUT.png|OUT.jpg [--size WxH] [--strict]\n"
    "                 render one frame to a PNG or JPEG picture\n"
    "  inspect FILE [--json]\n"
    "                 show the keys and values of a project, template, preset or registry file\n"
    "  new -o PROJECT.mzp [--length S] [--overlap S] [--motion none|default|slight]\n"
    "      [--audio FILE] [--size WxH] [--recursive] [--link] PICTURES...\n"
    "                 make a project from pictures (files or folders)\n"
    "\n"
    "Times are seconds (12.5) or time codes HH:MM:SS:FF whose last field is hundredths of a\n"
    "second (00:00:12:50). Each command takes --help.\n";

int runCommand(const std::string& command, const std::vector<std::string>& rest) {
    using namespace pm::cli;
    if (command == "render") {
        return runRender(rest);
    }
    if (command == "frame") {
        return runFrame(rest);
    }
    if (command == "inspect") {
        return runInspect(rest);
    }
    if (command == "new") {
        return runNew(rest);
    }
    std::fprintf(stderr, "pictomove: unknown %s %s\n%s",
                 !command.empty() && command[0] == '-' ? "option" : "command", command.c_str(),
                 kHelp);
    return kUsage;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The editor starts with no argument, with a project file (one that exists, or any name ending in
// .mzp, which the editor then reports), or with the dialog switch; anything else is a command,
// which never opens a window.
bool opensEditor(const std::vector<std::string>& words) {
    if (words.empty()) {
        return true;
    }
    const std::string first = lowered(words[0]);
    if (first == "render" || first == "frame" || first == "inspect" || first == "new") {
        return false;
    }
    for (const std::string& word : words) {
        const std::string w = lowered(word);
        if (w == "-dialog" || w == "--dialog" || w == "/dialog") {
            return true;
        }
    }
    std::error_code ec;
    return first[0] != '-' && (std::filesystem::is_regular_file(words[0], ec) ||
                               (first.size() > 4 && first.ends_with(".mzp")));
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pm::cli;
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    pm::initialisePixelRoutines();
    if (opensEditor(words)) {
        return pm::ui::runEditor(argc, argv);
    }
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    const int code = runCommand(words[0], rest);
    // What went to standard output must have arrived: a full disk or a closed pipe is a failure.
    if (std::string reason; !flushStandardOutput(reason) && code == kSuccess) {
        std::fprintf(stderr, "pictomove: cannot write the output: %s\n", reason.c_str());
        return kFailure;
    }
    return code;
}
