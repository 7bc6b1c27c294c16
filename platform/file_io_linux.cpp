#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace quarnel {

UniqueHandle OpenReadWriteFile(const std::string& path, unsigned mode) {
    return UniqueHandle(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode)));
}

UniqueHandle CreatePrivateFile(const std::string& path, bool& plainFile) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file) {
        return {};
    }
    struct stat info = {};
    plainFile = ::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode);
    // A file that was already there keeps its mode through O_TRUNC.
    if (plainFile && ::fchmod(file.Get(), 0600) != 0) {
        return {};
    }
    return IntoHandle(std::move(file));
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool SeekToEnd(NativeHandle file) {
    return ::lseek(DescriptorOf(file), 0, SEEK_END) >= 0;
}

bool WriteAll(NativeHandle file, const void* data, std::size_t size) {
    const int fd = DescriptorOf(file);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        return false;
    }
    std::uint8_t buffer[8192];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (out.size() + static_cast<std::size_t>(got) > maxBytes) {
            out.clear();
            return false;
        }
        out.insert(out.end(), buffer, buffer + got);
    }
}

bool IsDirectory(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace quarnel
