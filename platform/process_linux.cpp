#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"

namespace quarnel {

std::uint64_t CurrentProcessId() {
    return static_cast<std::uint64_t>(::getpid());
}

std::uint64_t CurrentThreadId() {
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
}

std::uint32_t CurrentUserId() {
    return static_cast<std::uint32_t>(::geteuid());
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string GetProgramPath() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

void UseOneAllocationArena() {
    (void)::mallopt(M_ARENA_MAX, 1);
}

void ReleaseUnusedMemory() {
    (void)::malloc_trim(0);
}

void WipeMemory(void* data, std::size_t size) {
    if (size != 0) {
        ::explicit_bzero(data, size);
    }
}

std::uint32_t GetLastErrorCode() {
    return static_cast<std::uint32_t>(errno);
}

std::string SystemErrorText(std::uint32_t code) {
    if (code == 0 || code > 0x7FFFFFFF) {
        return {};
    }
    char buffer[256];
    // The GNU variant returns a pointer that may or may not be buffer.
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr) {
        return {};
    }
    // glibc answers unknown codes with "Unknown error N"; that is no system text.
    if (std::strncmp(text, "Unknown error", 13) == 0) {
        return {};
    }
    return text;
}

}  // namespace quarnel
