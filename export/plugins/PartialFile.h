#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "export/PluginApi.h"

namespace pm::exporters {

// Removes what a failed or cancelled run left at `path`, but only a regular file: an output
// such as /dev/full or a named pipe is not ours to delete.
inline void removePartialFile(const char* path) {
    struct stat status {};
    if (path != nullptr && ::lstat(path, &status) == 0 && S_ISREG(status.st_mode)) {
        std::remove(path);
    }
}

// Tells the user through the program why `path` could not be written ("No space left on
// device"), shown every time.
inline void reportWriteFailure(plugin::HostServices* host, const char* path, const char* reason) {
    if (host == nullptr || reason == nullptr) {
        return;
    }
    constexpr std::uint32_t kAlwaysShow = 0x1;
    const std::string text = std::string("cannot write ") + path + ": " + reason;
    host->messageBox(kAlwaysShow, text.c_str());
}

}  // namespace pm::exporters
