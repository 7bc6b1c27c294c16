#include <sys/utsname.h>

#include <string>

#include "platform/system_version.h"

namespace quarnel {

const char* SystemNameToken() {
    return "Linux; Linux";
}

std::string SystemRelease() {
    utsname names{};
    return ::uname(&names) == 0 ? names.release : "";
}

}  // namespace quarnel
