#pragma once

// The administrator's hook programs: which programs of the hooks folder may run, and one run of
// one of them as an unprivileged user that gets nothing of the service but what it is given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wait.h"

namespace quarnel {

// Empty where hooks run; else the sentence saying why none runs (Windows).
std::string HooksUnsupported();

// /etc/quarnel-updater/hooks.d (below QUARNEL_ROOT when set); empty where hooks do not run.
std::string HooksFolder();

struct HookProgram {
    std::string name;
    std::string path;
    std::string refusal;  // why it may not run; empty when it may
};

// The folder's programs in the byte order of their names. As run-parts does, only names of
// letters, digits, '_' and '-' count (so "x.dpkg-old", "x~" and ".swp" files never run). A
// program is refused when it is no executable file, or when it, the file a link names or any
// folder above either belongs to anyone but root or may be written by a group or by everybody.
// Nothing when the folder is missing.
std::vector<HookProgram> FindHookPrograms(const std::string& folder);

// Why hooks cannot run as the account of that name (none exists, it is root's); empty when they
// can.
std::string HookUserRefusal(const std::string& userName);

inline constexpr std::size_t kHookOutputLimit = 4096;

struct HookRunResult {
    bool started = false;
    bool finished = false;  // it ended by itself within the time allowed
    bool stopped = false;   // stop ended it
    int exitCode = -1;      // when it ended with exit()
    int signal = 0;         // the signal that ended it, when one did
    std::string output;     // standard output and error together, the first kHookOutputLimit bytes
    bool outputCut = false;
    std::string failure;  // why it did not start
};

// Runs path without a shell and without arguments, standard input /dev/null, the environment
// given plus HOME, USER, LOGNAME and PATH of its account, in "/" and a session of its own. The
// program is opened and checked again as FindHookPrograms checks it, and that descriptor is what
// runs (a refused one does not start). From root it runs as userName (empty: the program's
// system user, the transfer helper's) and that account's groups, never as root: no capability,
// no way to gain one (no-new-privileges), no descriptor of this process (a script keeps its own
// file open read-only as descriptor 3, through which its interpreter reads it). Without root it
// runs as this process's user, and userName must be empty or that user. It and what it started
// are killed after timeLimitMs, and at once when stop is set.
HookRunResult RunHookProgram(const std::string& path, const std::vector<std::string>& environment,
                             const std::string& userName, std::int64_t timeLimitMs,
                             const WaitHandle& stop);

}  // namespace quarnel
