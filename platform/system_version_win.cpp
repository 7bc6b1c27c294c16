#include <windows.h>

#include <string>

#include "platform/system_version.h"

namespace quarnel {

const char* SystemNameToken() {
    return "Windows; Windows NT";
}

// The low byte of GetVersion is the major version, the next one the minor; the program's
// manifest declares Windows 10, so the system does not answer with an older version.
std::string SystemRelease() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const DWORD version = ::GetVersion();
#pragma GCC diagnostic pop
    return std::to_string(version & 0xFF) + "." + std::to_string((version >> 8) & 0xFF);
}

}  // namespace quarnel
