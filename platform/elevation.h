#pragma once

// Administrator rights and elevated processes.

#include <cstdint>

namespace quarnel {

// 1 when the current user is an administrator (root, or an account in the group sudo, wheel or
// admin), else 0.
int IsCurrentUserAdmin();

// The user on whose behalf the process runs: for a root process started through pkexec or sudo
// the user who started it (SUDO_UID, else PKEXEC_UID), otherwise the effective user.
std::uint32_t InvokingUserId();

}  // namespace quarnel
