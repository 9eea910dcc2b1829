#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace pm {

namespace {

bool isDialogSwitch(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name == "DIALOG";
}

}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool switchesEnded = false;
    for (const std::string& argument : arguments) {
        if (!switchesEnded && argument == "--") {
            switchesEnded = true;
            continue;
        }
        if (!switchesEnded && argument.size() > 1 && argument.front() == '-') {
            const std::size_t dashes = argument.compare(0, 2, "--") == 0 ? 2 : 1;
            if (isDialogSwitch(argument.substr(dashes))) {
                line.dialogSwitch = true;
            }
            continue;
        }
        if (line.fileName.empty()) {
            line.fileName = argument;
        }
    }
    return line;
}

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return parse(arguments);
}

}  // namespace pm
