#include "app/cli/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace pm::cli {

namespace {

// Writes everything to an open descriptor; the errno of the first failure, else 0.
int writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// A file that is not a regular one (a device, a pipe) is written in place.
bool writtenInPlace(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

}  // namespace

std::string writeWholeFile(const std::string& path, const void* data, std::size_t size) {
    if (writtenInPlace(path)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            return std::strerror(errno);
        }
        int error = writeAll(fd, data, size);
        if (::close(fd) != 0 && error == 0) {
            error = errno;
        }
        return error == 0 ? std::string() : std::strerror(error);
    }
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::strerror(errno);
    }
    int error = writeAll(fd, data, size);
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        std::remove(temporary.c_str());
        return std::strerror(error);
    }
    return {};
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::string inputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        if (!input.empty() && sameFile(output, input)) {
            return input;
        }
    }
    return {};
}

bool flushStandardOutput(std::string& reason) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) {
        return true;
    }
    reason = errno != 0 ? std::strerror(errno) : "the output could not be written";
    return false;
}

}  // namespace pm::cli
