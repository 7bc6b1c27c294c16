#include <windows.h>

#include "platform/native_handle.h"

namespace quarnel {

int CloseNativeHandle(NativeHandle handle) {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : -1;
}

}  // namespace quarnel
