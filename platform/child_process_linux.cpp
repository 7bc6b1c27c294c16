#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/spawn_setup_linux.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

constexpr std::size_t kMaximumOutput = 64 * 1024;

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void AppendOutput(CommandResult& result, const char* data, std::size_t size) {
    const std::size_t room = kMaximumOutput - result.output.size();
    result.output.append(data, size < room ? size : room);
}

// Reads what is available without blocking; false once the write ends are all closed.
bool DrainPipe(int fd, CommandResult& result) {
    char buffer[4096];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            AppendOutput(result, buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 && errno == EAGAIN;
    }
}

void RecordStatus(CommandResult& result, int status) {
    result.finished = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& arguments, int timeoutMilliseconds) {
    CommandResult result;
    if (arguments.empty() || arguments[0].empty() || arguments[0][0] != '/') {
        return result;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return result;
    }
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    // Only this end is non-blocking: the flag belongs to the open pipe end, which the program
    // shares, and a program whose output fails with EAGAIN when it outpaces the reader would
    // lose output or fail.
    if (::fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK) != 0) {
        return result;
    }

    SpawnSetup setup(arguments);
    setup.InputFromNull();
    ::posix_spawn_file_actions_adddup2(setup.Actions(), writeEnd.Get(), 1);
    ::posix_spawn_file_actions_adddup2(setup.Actions(), writeEnd.Get(), 2);
    const pid_t pid = setup.Spawn();
    if (pid < 0) {
        return result;
    }
    result.started = true;
    writeEnd.Reset();

    // The process descriptor lets one poll wait for output and for the end together.
    UniqueFd processFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    bool pipeOpen = true;
    int status = 0;
    while (true) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            RecordStatus(result, status);
            break;
        }
        const int left = RemainingMilliseconds(deadline);
        if (left == 0) {
            break;
        }
        pollfd watched[2] = {{processFd.Get(), POLLIN, 0}, {readEnd.Get(), POLLIN, 0}};
        const nfds_t count = pipeOpen ? 2 : 1;
        // Without a process descriptor (an old kernel) poll in short slices instead.
        const int slice = processFd ? left : (left < 20 ? left : 20);
        if (::poll(processFd ? watched : watched + 1, processFd ? count : count - 1, slice) < 0 &&
            errno != EINTR) {
            break;
        }
        if (pipeOpen) {
            pipeOpen = DrainPipe(readEnd.Get(), result);
        }
    }
    if (!result.finished) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (pipeOpen) {
        DrainPipe(readEnd.Get(), result);
    }
    return result;
}

StartedProgram StartProgramWithHandle(const std::vector<std::string>& arguments,
                                      const std::string& directory) {
    StartedProgram program;
    if (arguments.empty() || arguments[0].empty() || arguments[0][0] != '/') {
        return program;
    }
    SpawnSetup setup(arguments);
    setup.InputFromNull();
    if (!directory.empty()) {
        ::posix_spawn_file_actions_addchdir_np(setup.Actions(), directory.c_str());
    }
    const pid_t pid = setup.Spawn();
    if (pid < 0) {
        return program;
    }
    // The child cannot be reaped by anyone else, so its id stays its own until it is waited for.
    program.processId = pid;
    program.handle = UniqueHandle(::syscall(SYS_pidfd_open, pid, 0));
    if (!program.handle) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        program.processId = -1;
    }
    return program;
}

void WaitForProgramEnd(const StartedProgram& program) {
    // The process descriptor polls readable once the program has ended.
    pollfd ended{DescriptorOf(program.handle.Get()), POLLIN, 0};
    while (program.handle && ::poll(&ended, 1, -1) < 0 && errno == EINTR) {
    }
}

int WaitForStartedProgram(StartedProgram& program) {
    if (program.processId <= 0) {
        return -1;
    }
    int status = 0;
    pid_t waited = -1;
    do {
        waited = ::waitpid(program.processId, &status, 0);
    } while (waited < 0 && errno == EINTR);
    program.processId = -1;
    program.handle.Reset();
    if (waited < 0 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string FindExecutable(const std::string& name, const std::string& folders) {
    for (const std::string& folder : SplitText(folders, ':')) {
        if (folder.empty() || folder[0] != '/') {
            continue;
        }
        const std::string candidate = folder + "/" + name;
        struct stat info = {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

bool StartDetachedProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // The grandchild reports a failed exec through a close-on-exec pipe: an exec that works
    // closes it without a word.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    UniqueFd reader(report[0]);
    UniqueFd writer(report[1]);
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const int devNull = ::open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                ::dup2(devNull, 0);
                ::dup2(devNull, 1);
                ::dup2(devNull, 2);
            }
            ::execv(argv[0], argv.data());
            const int error = errno;
            (void)!::write(writer.Get(), &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    writer.Reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(reader.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    return got == 0;
}

}  // namespace quarnel
