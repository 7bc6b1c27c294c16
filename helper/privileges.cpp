#include "helper/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/system_user_linux.h"

namespace quarnel {
namespace {

bool BecomeAccount() {
    uid_t uid = 0;
    gid_t gid = 0;
    if (!FindSystemUser(uid, gid) || ::setgroups(0, nullptr) != 0 ||
        ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
        return false;
    }
    uid_t real = 0, effective = 0, saved = 0;
    gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
    return ::getresuid(&real, &effective, &saved) == 0 && real == uid && effective == uid &&
           saved == uid && ::getresgid(&realGroup, &effectiveGroup, &savedGroup) == 0 &&
           realGroup == gid && effectiveGroup == gid && savedGroup == gid &&
           ::getgroups(0, nullptr) == 0 && ::setuid(0) != 0;
}

bool NoCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    for (const auto& part : data) {
        if (part.effective != 0 || part.permitted != 0 || part.inheritable != 0) {
            return false;
        }
    }
    // Ambient capabilities would come back on an exec; clear them outright.
    return ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0;
}

}  // namespace

bool DropPrivileges() {
    const bool root = ::getuid() == 0 || ::geteuid() == 0;
    if (root && !BecomeAccount()) {
        return false;
    }
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 && NoCapabilities();
}

}  // namespace quarnel
