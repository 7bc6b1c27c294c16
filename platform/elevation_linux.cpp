#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/elevation.h"

namespace quarnel {
namespace {

// A user id given in the environment: decimal digits only, within 32 bits.
bool ParseUserId(const char* text, std::uint32_t& uid) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    std::uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
        if (value > 0xFFFFFFFEull) {  // (uid_t)-1 is no user
            return false;
        }
    }
    uid = static_cast<std::uint32_t>(value);
    return true;
}

bool IsAdministratorGroup(gid_t gid) {
    struct group entry = {};
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    return std::strcmp(found->gr_name, "sudo") == 0 || std::strcmp(found->gr_name, "wheel") == 0 ||
           std::strcmp(found->gr_name, "admin") == 0;
}

}  // namespace

int IsCurrentUserAdmin() {
    const uid_t uid = ::geteuid();
    if (uid == 0) {
        return 1;
    }
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return 0;
    }
    // The account's groups from the group database, not the process's: membership granted
    // since the login counts, as the account's privilege level would.
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= 0 || count > 65536) {
            return 0;
        }
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
            return 0;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (IsAdministratorGroup(groups[static_cast<std::size_t>(i)])) {
            return 1;
        }
    }
    return 0;
}

std::uint32_t InvokingUserId() {
    const uid_t uid = ::geteuid();
    if (uid == 0) {
        std::uint32_t invoking = 0;
        if (ParseUserId(std::getenv("SUDO_UID"), invoking) ||
            ParseUserId(std::getenv("PKEXEC_UID"), invoking)) {
            return invoking;
        }
    }
    return static_cast<std::uint32_t>(uid);
}

}  // namespace quarnel
