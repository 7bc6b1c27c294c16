#include <unistd.h>

#include "platform/native_handle.h"

namespace quarnel {

int CloseNativeHandle(NativeHandle handle) {
    return ::close(static_cast<int>(handle));
}

}  // namespace quarnel
