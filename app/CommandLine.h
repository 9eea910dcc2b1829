#pragma once

#include <string>
#include <vector>

namespace pm {

// What the editor was started with: an optional project file and the "DIALOG" switch (written
// "-dialog" or "--dialog", in any letter case). Other switches are ignored; the first argument
// that is not a switch is the file.
struct CommandLine {
    std::string fileName;
    bool dialogSwitch = false;

    // Dialog mode needs both the switch and a file.
    bool dialogMode() const { return dialogSwitch && !fileName.empty(); }

    static CommandLine parse(const std::vector<std::string>& arguments);
    static CommandLine parse(int argc, const char* const* argv);
};

}  // namespace pm
