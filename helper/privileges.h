#pragma once

// The helper gives up root before it reads its request: to the system user quarnel-updater when
// the package created it, else nobody; no supplementary groups, no capabilities, and no way back
// (PR_SET_NO_NEW_PRIVS). Every step is checked; false means the helper must not go on.

namespace quarnel {

bool DropPrivileges();

}  // namespace quarnel
