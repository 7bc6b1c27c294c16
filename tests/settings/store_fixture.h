#pragma once

// A registry store in a temporary QUARNEL_ROOT, and running a piece of a test in a child
// process (another process using the same store).

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/test_support.h"

namespace quarnel::test {

class StoreTest : public ::testing::Test {
  protected:
    StoreTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          configEnvironment_("XDG_CONFIG_HOME", "/config") {}

    const std::string& Root() const { return root_.Path(); }
    std::string MachineHive() const {
        return root_.Path() + "/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE";
    }
    std::string UserHive() const {
        return root_.Path() + "/config/quarnel-updater/registry/HKEY_CURRENT_USER";
    }
    // The folder of a key of the machine hive created with the case given here.
    std::string MachineFolder(const std::string& keyPath) const {
        std::string folder = MachineHive() + "/" + keyPath;
        for (char& c : folder) {
            c = c == '\\' ? '/' : c;
        }
        return folder;
    }
    void WriteMachineId(const std::string& text) const {
        std::filesystem::create_directories(root_.Path() + "/etc");
        std::ofstream(root_.Path() + "/etc/machine-id") << text;
    }

  private:
    TemporaryFolder root_;
    ScopedEnvironment rootEnvironment_;
    ScopedEnvironment configEnvironment_;
};

// Starts body in a forked child that exits with body's result; the child is killed by an alarm
// if it hangs. -1 when the fork failed.
inline pid_t StartChild(const std::function<int()>& body, unsigned alarmSeconds = 60) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(alarmSeconds);
        ::_exit(body());
    }
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int WaitForChild(pid_t pid) {
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int RunInChild(const std::function<int()>& body, unsigned alarmSeconds = 60) {
    return WaitForChild(StartChild(body, alarmSeconds));
}

}  // namespace quarnel::test
