#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pm::cli {

// Writes `size` bytes to `path` and checks every write and the close. A file is written beside
// the target and renamed over it once complete, so a failure leaves whatever was there before;
// a device or pipe (/dev/stdout, /dev/full) is written directly. Empty on success, else the
// system's reason ("No space left on device").
std::string writeWholeFile(const std::string& path, const void* data, std::size_t size);

// True when both names reach the same file (through links, "..", or another spelling).
bool sameFile(const std::string& a, const std::string& b);

// The input among `inputs` that `output` would overwrite; empty when none.
std::string inputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs);

// Flushes standard output; false with the reason in `reason` when it could not be written.
bool flushStandardOutput(std::string& reason);

}  // namespace pm::cli
