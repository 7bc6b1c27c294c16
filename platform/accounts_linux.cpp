#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accounts.h"
#include "platform/elevation.h"
#include "platform/file_io.h"
#include "platform/guid.h"
#include "platform/paths.h"

namespace quarnel {
namespace {

constexpr const char* kLocalSystemSid = "S-1-5-18";
constexpr const char* kUnixUserSidPrefix = "S-1-22-1-";

std::string UserNameOf(uid_t uid) {
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_name == nullptr) {
        return {};
    }
    return found->pw_name;
}

}  // namespace

std::string GetCurrentUserName() {
    return UserNameOf(::geteuid());
}

std::string GetInstallingUserName() {
    return UserNameOf(static_cast<uid_t>(InvokingUserId()));
}

std::string GetAccountSidString(std::string_view accountName) {
    if (accountName.empty()) {
        return {};
    }
    const std::string name(accountName);
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return {};
    }
    if (found->pw_uid == 0) {
        return kLocalSystemSid;
    }
    return kUnixUserSidPrefix + std::to_string(found->pw_uid);
}

std::string GetHardwareProfileId() {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(RootedPath("/etc/machine-id"), 4096, bytes)) {
        return {};
    }
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    if (text.size() != 32) {
        return {};
    }
    const std::string dashed = text.substr(0, 8) + "-" + text.substr(8, 4) + "-" +
                               text.substr(12, 4) + "-" + text.substr(16, 4) + "-" +
                               text.substr(20);
    Guid guid;
    if (!GuidFromString(dashed, guid)) {
        return {};
    }
    return GuidToString(guid);
}

}  // namespace quarnel
