#include "ddns/user_agent.h"

#include <cstddef>
#include <mutex>

#include "platform/system_version.h"

namespace quarnel {
namespace {

// The second product token names the compiler that built the program.
std::string ToolchainToken() {
#if defined(__clang__)
    return "Clang/" + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) +
           "." + std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
    return "GCC/" + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
           std::to_string(__GNUC_PATCHLEVEL__);
#else
    return "Unknown/0";
#endif
}

// The decimal number at text[pos...], moving pos past it; 0 when there is none.
unsigned ReadNumber(std::string_view text, std::size_t& pos) {
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 100000) {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        ++pos;
    }
    return value;
}

}  // namespace

std::string BuildUserAgent(std::string_view release) {
    std::size_t pos = 0;
    const unsigned major = ReadNumber(release, pos);
    unsigned minor = 0;
    if (pos < release.size() && release[pos] == '.') {
        ++pos;
        minor = ReadNumber(release, pos);
    }
    return "Quarnel Updater/" + std::to_string(QUARNEL_BUILD_NUMBER) + " " + ToolchainToken() +
           " (" + SystemNameToken() + " " + std::to_string(major) + "." + std::to_string(minor) +
           ")";
}

const std::string& DefaultUserAgent() {
    static std::once_flag once;
    static std::string userAgent;
    std::call_once(once, [] { userAgent = BuildUserAgent(SystemRelease()); });
    return userAgent;
}

}  // namespace quarnel
