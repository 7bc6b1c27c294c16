#pragma once

// The account that the program's unprivileged parts run as (the transfer helper, the outcome
// hooks): the package's own system user quarnel-updater when it exists, else nobody; never root.

#include <sys/types.h>

namespace quarnel {

// False when neither account exists.
bool FindSystemUser(uid_t& uid, gid_t& gid);

}  // namespace quarnel
