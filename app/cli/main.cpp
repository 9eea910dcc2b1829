// pictomove: the editor, or with a subcommand a tool that works without any window.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "render/PixelSettings.h"

namespace {

const char* const kHelp =
    "usage: pictomove <command> [options]\n"
    "\n"
    "Commands (none of them opens a window):\n"
    "  render PROJECT -o OUT [--format mp4|webm|mov|png|jpg|raw] [--preset NAME]\n"
    "         [--size WxH] [--fps N] [--from T --to T]\n"
    "                 render a project to a video file, pictures or raw frames\n"
    "  frame PROJECT --time T -o OUT.png [--size WxH]\n"
    "                 render one frame to a PNG picture\n"
    "  inspect FILE [--json]\n"
    "                 show the keys and values of a project, template, preset or registry file\n"
    "  new -o PROJECT.mzp [--length S] [--overlap S] [--motion none|default|slight]\n"
    "      [--audio FILE] [--size WxH] PICTURES...\n"
    "                 make a project from pictures (files or folders)\n"
    "\n"
    "Times are seconds (12.5) or time codes (00:00:12:50). Each command takes --help.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace pm::cli;
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h") {
        std::fputs(kHelp, words.empty() ? stderr : stdout);
        return words.empty() ? kUsage : kSuccess;
    }
    pm::initialisePixelRoutines();
    const std::string command = words[0];
    const std::vector<std::string> rest(words.begin() + 1, words.end());
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
    if (!command.empty() && command[0] != '-') {
        return fail("the editor's windows are not part of this build yet; use a command:\n" +
                    std::string(kHelp));
    }
    std::fprintf(stderr, "pictomove: unknown option %s\n%s", command.c_str(), kHelp);
    return kUsage;
}
