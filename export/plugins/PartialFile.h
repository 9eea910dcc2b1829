#pragma once

#include <sys/stat.h>

#include <cstdio>

namespace pm::exporters {

// Removes what a failed or cancelled run left at `path`, but only a regular file: an output
// such as /dev/full or a named pipe is not ours to delete.
inline void removePartialFile(const char* path) {
    struct stat status {};
    if (path != nullptr && ::lstat(path, &status) == 0 && S_ISREG(status.st_mode)) {
        std::remove(path);
    }
}

}  // namespace pm::exporters
