#pragma once

// Child processes for tests: a program started with its output on a pipe (read line by line while
// it runs), and a function run in a forked child, optionally as another user. Every child is
// stopped by its process id when the test is done with it.

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarnel::test {

// The user tests switch to when they need someone else than root.
inline constexpr uid_t kNobodyUser = 65534;

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program (absolute path) with arguments and extra environment entries, as user when
    // given (root only); standard output and error go to one pipe.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment = {},
               std::optional<uid_t> user = std::nullopt);
    pid_t Pid() const { return pid_; }
    // Reads output until a whole line equal to line has arrived; false after timeoutMs.
    bool WaitForLine(const std::string& line, int timeoutMs = 10000);
    // Everything read so far.
    const std::string& Output() const { return output_; }
    // Waits for the child to end; its exit code, or -1 on a signal or time-out.
    int Wait(int timeoutMs = 10000);
    // Sends a signal while the child runs.
    void Signal(int signal);

  private:
    void ReadAvailable(int timeoutMs);

    pid_t pid_ = -1;
    int output_fd_ = -1;
    std::string output_;
    std::size_t scanned_ = 0;
};

// Runs body in a forked child (as user when given; root only) and returns its result (0..255),
// or -1 when the child did not end normally within timeoutMs.
int RunInForkedChild(const std::function<int()>& body, std::optional<uid_t> user = std::nullopt,
                     int timeoutMs = 20000);

// Switches the calling process to user completely (groups too); false when that fails.
bool BecomeUser(uid_t user);

// The directory of the running test program (where helper programs are built).
std::string TestProgramFolder();

}  // namespace quarnel::test
