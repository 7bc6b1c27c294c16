#include <unistd.h>

#include <string>

#include "platform/system_rights.h"

namespace quarnel {

bool HasSystemRights() {
    return ::geteuid() == 0;
}

const char* SystemRightsAdvice() {
    return "root rights (run it as root, for example with sudo)";
}

bool CanWriteFolder(const std::string& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace quarnel
