#pragma once

// Accounts and machine identity.

#include <string>
#include <string_view>

namespace quarnel {

// The name of the user the process runs as (effective user), or the empty text.
std::string GetCurrentUserName();
// The user who installs: when the process runs as root on behalf of another user (sudo, pkexec:
// SUDO_UID, else PKEXEC_UID), that user; otherwise the current user. Empty when unknown.
std::string GetInstallingUserName();
// The account's security identifier text: "S-1-22-1-<uid>" for a user of this machine, the
// well-known "S-1-5-18" for root; the empty text for an unknown account.
std::string GetAccountSidString(std::string_view accountName);
// The machine's identity (/etc/machine-id, 32 hexadecimal digits) as a braced upper-case GUID
// text: {0123ABCD-...}; the empty text when the file is missing or malformed.
std::string GetHardwareProfileId();

}  // namespace quarnel
