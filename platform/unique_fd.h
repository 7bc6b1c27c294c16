#pragma once

#include <unistd.h>

#include <utility>

#include "platform/native_handle.h"

// Linux only: inside the platform layer a descriptor is owned as a UniqueFd; interfaces that
// hand it on take a UniqueHandle (IntoHandle), whose NativeHandle is the descriptor.
namespace quarnel {

// Owns one file descriptor and closes it when it goes out of scope.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }
    int Release() { return std::exchange(fd_, -1); }
    // Closes the held descriptor (if any) and takes fd; returns the result of close, or 0.
    int Reset(int fd = -1) {
        int result = 0;
        if (fd_ >= 0) {
            result = ::close(fd_);
        }
        fd_ = fd;
        return result;
    }

  private:
    int fd_ = -1;
};

inline UniqueHandle IntoHandle(UniqueFd fd) {
    return UniqueHandle(fd.Release());
}

inline int DescriptorOf(NativeHandle handle) {
    return static_cast<int>(handle);
}

}  // namespace quarnel
