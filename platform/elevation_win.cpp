#include <windows.h>

#include <cstdint>

#include "platform/elevation.h"
#include "platform/process.h"

namespace quarnel {

// An administrator: the token is a member of the Administrators group (for a split token under
// user account control, the elevated one).
int IsCurrentUserAdmin() {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return 0;
    }
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member)) {
        member = FALSE;
    }
    ::FreeSid(administrators);
    return member ? 1 : 0;
}

// An elevated process runs as the user who started it.
std::uint32_t InvokingUserId() {
    return CurrentUserId();
}

}  // namespace quarnel
