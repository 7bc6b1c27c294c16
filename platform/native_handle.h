#pragma once

// The system's reference to an open object: a file descriptor on Linux, a HANDLE (or a socket)
// on Windows. Interfaces that hand such a reference to the core name it NativeHandle, one integer
// type wide enough for either, so the core compiles the same for both.

#include <cstdint>
#include <utility>

namespace quarnel {

using NativeHandle = std::intptr_t;
// No object; the platform's own "none" values (a descriptor of -1, a null or invalid HANDLE)
// become this one at the boundary.
inline constexpr NativeHandle kNoNativeHandle = -1;

// Closes one handle of this platform; 0 on success.
int CloseNativeHandle(NativeHandle handle);

// Owns one handle and closes it when it goes out of scope.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(NativeHandle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, kNoNativeHandle)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, kNoNativeHandle));
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    NativeHandle Get() const { return handle_; }
    bool Valid() const { return handle_ != kNoNativeHandle; }
    explicit operator bool() const { return Valid(); }
    NativeHandle Release() { return std::exchange(handle_, kNoNativeHandle); }
    // Closes the held handle (if any) and takes handle; returns the close result, or 0.
    int Reset(NativeHandle handle = kNoNativeHandle) {
        const int result = Valid() ? CloseNativeHandle(handle_) : 0;
        handle_ = handle;
        return result;
    }

  private:
    NativeHandle handle_ = kNoNativeHandle;
};

}  // namespace quarnel
