#pragma once

// A real systemd booted as PID 1 in new PID, mount, host-name and network namespaces, for
// installing the service end to end without touching the machine's own service manager. The
// network namespace matters beyond isolation: systemd as PID 1 raises kernel settings of its
// network namespace (net.unix.max_dgram_qlen from 10 to 512, for one), which would otherwise
// change the machine for every later test and hide faults that only the defaults show.
//
// Inside the namespace, /etc/systemd/system, /var/lib/quarnel-updater and
// /var/log/quarnel-updater are the folders of the same names below the given root, so the test
// sees from outside (with QUARNEL_ROOT = root) what the program does inside. /run, /tmp,
// /var/tmp and /var/lib/systemd are private, /etc/resolv.conf points at 127.0.0.1 only, and
// /sys/fs/cgroup is a private copy (systemd makes it read-only) of the same hierarchies, in
// which this systemd keeps to a cgroup of its own. The program under test, its helper executable
// and any other shared file or folder are bound below /run/quarnel-test, so the namespace sees
// them wherever the build tree lies (below /tmp, or in a folder that only root may enter). Needs
// root.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel::test {

struct PrivateSystemdOptions {
    // False only for a test that has moved into a network namespace of its own already (the
    // manager's services must reach the test's servers there); booting then fails when the
    // caller is still in the machine's network namespace.
    bool ownNetwork = true;
    // Files or folders besides the program that the namespace must see, of distinct names: each
    // appears as PrivateSystemd::SharedPath(path).
    std::vector<std::string> shared;
};

class PrivateSystemd {
  public:
    // Boots and waits until the manager runs. SkipReason() tells which prerequisite is missing
    // (no root, no systemd, no usable cgroups); Booted() is false as well when the manager
    // was started but did not come up (ManagerLog() then tells why).
    explicit PrivateSystemd(const std::string& root, PrivateSystemdOptions options = {});
    // Asks the manager to power off, waits a bounded time, kills it otherwise, and removes its
    // cgroups.
    ~PrivateSystemd();
    PrivateSystemd(const PrivateSystemd&) = delete;
    PrivateSystemd& operator=(const PrivateSystemd&) = delete;

    const std::string& SkipReason() const { return skipReason_; }
    bool Booted() const { return booted_; }
    pid_t Pid() const { return managerPid_; }

    // Where a shared file or folder (given by its path outside) appears inside.
    static std::string SharedPath(const std::string& outside);
    // The program under test as the namespace sees it.
    static std::string ProgramPath();

    // Runs a command inside the namespaces with a clean environment (PATH plus the entries).
    CommandResult Run(const std::vector<std::string>& command,
                      const std::map<std::string, std::string>& environment = {},
                      int timeoutSeconds = 60) const;
    // systemctl inside, its output with the trailing line feed removed.
    std::string Systemctl(const std::vector<std::string>& arguments) const;
    // Polls `systemctl is-active unit` until it prints state or the time runs out.
    bool WaitForUnitState(const std::string& unit, const std::string& state,
                          int timeoutSeconds) const;
    // What the manager printed while it ran.
    std::string ManagerLog() const;

  private:
    bool Boot();
    void RemoveCgroups();

    std::string root_;
    PrivateSystemdOptions options_;
    std::string skipReason_;
    bool booted_ = false;
    std::string failure_;
    std::vector<std::string> cgroups_;  // our cgroup folder in each hierarchy we moved into
    pid_t helperPid_ = -1;              // the parent of the manager, outside the namespace
    pid_t managerPid_ = -1;             // the manager (PID 1 inside)
};

}  // namespace quarnel::test
