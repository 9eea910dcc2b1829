#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace pm::test {

struct Outcome {
    int code = -1;
    std::string out;
};

// Runs the program with a shell command line (`prefix` goes before it, for the environment);
// standard error is what the outcome reads, with standard output unless `arguments` sends that
// elsewhere ("> FILE").
inline Outcome run(const std::string& arguments, const std::string& prefix = {}) {
    const bool ownOutput = arguments.find('>') != std::string::npos;
    const std::string command = prefix + std::string(PICTOMOVE) + " " +
                                (ownOutput ? "2>&1 " + arguments : arguments + " 2>&1");
    Outcome r;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace pm::test
