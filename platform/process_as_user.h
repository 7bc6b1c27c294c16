#pragma once

// Starting a desktop program (a web browser for a link) for the user at the desktop, never as
// root: a process that runs as root on behalf of a user (pkexec, sudo) drops to that user in the
// child before anything is started; root on its own desktop starts nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel {

struct DesktopUser {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::vector<std::uint32_t> groups;  // the account's supplementary groups
    std::string name;
    std::string home;
    std::string shell;
};

// The user a desktop program is started as: this process's user when it is not root; for root
// the user it runs on behalf of (InvokingUserId) when that is another user with an account;
// nothing otherwise (root's own desktop, or an unknown account).
std::optional<DesktopUser> DesktopProgramUser();

// Starts arguments[0] (a full path) as user, in a session of its own, standard input, output and
// error on /dev/null, to be waited for with WaitForStartedProgram. From root, the child takes the
// account's groups, group and user id (and makes sure that root cannot be regained) before it
// runs anything, and the program gets a fresh environment: the display, desktop and language
// variables, the account's HOME, USER, LOGNAME and SHELL, a PATH of the system's folders, and the
// user's runtime folder and session bus where they exist. Otherwise the program runs with this
// process's environment, and only as this process's own user. The handle is invalid when nothing
// was started (always for root as the user).
StartedProgram StartProgramAsUser(const std::vector<std::string>& arguments,
                                  const DesktopUser& user);

}  // namespace quarnel
