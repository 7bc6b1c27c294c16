#pragma once

// Windows only: HANDLEs as the platform interfaces carry them.

#include <windows.h>

#include "platform/native_handle.h"

namespace quarnel {

inline HANDLE AsWindowsHandle(NativeHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A HANDLE as a NativeHandle; both of Windows' "none" values (null, INVALID_HANDLE_VALUE)
// become kNoNativeHandle.
inline NativeHandle FromWindowsHandle(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE
               ? kNoNativeHandle
               : reinterpret_cast<NativeHandle>(handle);
}

inline UniqueHandle OwnWindowsHandle(HANDLE handle) {
    return UniqueHandle(FromWindowsHandle(handle));
}

}  // namespace quarnel
