#include "tests/support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace quarnel::test {
namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits for pid up to timeoutMs; kills it when it is still there. The wait status, or -1.
int WaitOrKill(pid_t pid, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (NowMs() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

bool BecomeUser(uid_t user) {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(user, user, user) == 0 &&
           ::setresuid(user, user, user) == 0;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (output_fd_ >= 0) {
        ::close(output_fd_);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         std::optional<uid_t> user) {
    int fds[2];
    if (pid_ > 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    // Everything the child needs is prepared before the fork.
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t eq = text.find('=');
        if (eq != std::string::npos) {
            merged[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        merged[name] = value;
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : merged) {
        texts.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& text : texts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, 0);
        }
        if (user && !BecomeUser(*user)) {
            ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    pid_ = pid;
    output_fd_ = fds[0];
    return true;
}

void ChildProcess::ReadAvailable(int timeoutMs) {
    if (output_fd_ < 0) {
        return;
    }
    pollfd poller{output_fd_, POLLIN, 0};
    if (::poll(&poller, 1, timeoutMs) <= 0) {
        return;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(output_fd_, buffer, sizeof buffer)) > 0) {
        output_.append(buffer, static_cast<std::size_t>(got));
    }
    if (got == 0) {
        ::close(output_fd_);
        output_fd_ = -1;
    }
}

bool ChildProcess::WaitForLine(const std::string& line, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (true) {
        std::size_t end;
        while ((end = output_.find('\n', scanned_)) != std::string::npos) {
            const std::string found = output_.substr(scanned_, end - scanned_);
            scanned_ = end + 1;
            if (found == line) {
                return true;
            }
        }
        const std::int64_t left = deadline - NowMs();
        if (left <= 0 || output_fd_ < 0) {
            return false;
        }
        ReadAvailable(static_cast<int>(left));
    }
}

int ChildProcess::Wait(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    // Output is read while waiting, so a child that writes more than a pipe holds never blocks.
    const std::int64_t deadline = NowMs() + timeoutMs;
    int status = -1;
    while (true) {
        if (output_fd_ >= 0) {
            ReadAvailable(5);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            break;
        }
        if ((done < 0 && errno != EINTR) || NowMs() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            status = -1;
            break;
        }
    }
    pid_ = -1;
    ReadAvailable(0);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int RunInForkedChild(const std::function<int()>& body, std::optional<uid_t> user, int timeoutMs) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (user && !BecomeUser(*user)) {
            ::_exit(126);
        }
        ::_exit(body() & 0xFF);
    }
    const int status = WaitOrKill(pid, timeoutMs);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TestProgramFolder() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

}  // namespace quarnel::test
