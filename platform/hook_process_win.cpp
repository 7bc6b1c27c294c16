// Windows runs no outcome hooks: the service's account there is the system account, with no
// unprivileged account beside it to run them as. The service logs the reason once.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hook_process.h"

namespace quarnel {

std::string HooksUnsupported() {
    return "Hooks are not supported on Windows: no program of a hooks folder runs";
}

std::string HookUserRefusal(const std::string& /*userName*/) {
    return HooksUnsupported();
}

std::string HooksFolder() {
    return {};
}

std::vector<HookProgram> FindHookPrograms(const std::string& /*folder*/) {
    return {};
}

HookRunResult RunHookProgram(const std::string& /*path*/,
                             const std::vector<std::string>& /*environment*/,
                             const std::string& /*userName*/, std::int64_t /*timeLimitMs*/,
                             const WaitHandle& /*stop*/) {
    HookRunResult result;
    result.failure = HooksUnsupported();
    return result;
}

}  // namespace quarnel
