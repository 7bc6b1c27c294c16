#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/hook_process.h"
#include "platform/paths.h"
#include "platform/root_only_path.h"
#include "platform/system_user_linux.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

constexpr const char* kHookPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

bool IsHookName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

// The names of the folder held by fd, or (when it could not be opened as root's alone) of the
// folder at path, to name each program that is refused.
std::vector<std::string> FolderEntries(const UniqueFd& fd, const std::string& path) {
    std::vector<std::string> names;
    struct CloseFolder {
        void operator()(DIR* listing) const { ::closedir(listing); }
    };
    const int own = fd ? ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0) : -1;
    const std::unique_ptr<DIR, CloseFolder> listing(own >= 0 ? ::fdopendir(own)
                                                             : ::opendir(path.c_str()));
    if (!listing) {
        if (own >= 0) {
            ::close(own);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (IsHookName(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The program a name of the hooks folder stands for, opened, and checked on that descriptor:
// the file run is the file checked, whatever happens to its name meanwhile.
// Opened without access first: opening a device for reading (a watchdog, a tape) can set it off.
RootOnlyEntry OpenProgram(const std::string& path) {
    RootOnlyEntry program = OpenRootOnly(path, O_PATH);
    struct stat info = {};
    if (!program.refusal.empty()) {
        return program;
    }
    if (::fstat(program.fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        program.refusal = "it is no file";
    } else if ((info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0) {
        program.refusal = "it is not executable";
    } else {
        // The same file again, now for reading, through the descriptor rather than its name.
        const std::string self = "/proc/self/fd/" + std::to_string(program.fd.Get());
        program.fd.Reset(::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (program.fd) {
            return program;
        }
        program.refusal = "it cannot be opened";
    }
    program.fd.Reset();
    return program;
}

// A script is read by its interpreter through the descriptor it is run from, which must then
// stay open across the exec; a compiled program needs none.
bool IsScript(const UniqueFd& program) {
    char start[2] = {};
    return ::pread(program.Get(), start, sizeof start, 0) == 2 && start[0] == '#' &&
           start[1] == '!';
}

// Who a hook runs as.
struct HookAccount {
    bool drop = false;  // false: this process's own user, nothing to change
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string name;
    std::string home = "/";
};

std::optional<HookAccount> AccountOf(const passwd& entry) {
    HookAccount account;
    account.uid = entry.pw_uid;
    account.gid = entry.pw_gid;
    account.name = entry.pw_name;
    if (entry.pw_dir != nullptr && entry.pw_dir[0] == '/') {
        account.home = entry.pw_dir;
    }
    return account;
}

std::optional<HookAccount> FindAccount(const std::string& userName, std::string& failure) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::geteuid() != 0) {
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr) {
            failure = "this process's user has no account";
            return std::nullopt;
        }
        if (!userName.empty() && userName != entry.pw_name) {
            failure = "only a service that runs as root can run hooks as " + userName;
            return std::nullopt;
        }
        return AccountOf(entry);
    }
    if (userName.empty()) {
        uid_t uid = 0;
        gid_t gid = 0;
        if (!FindSystemUser(uid, gid) ||
            ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr) {
            failure = "neither the user quarnel-updater nor nobody exists";
            return std::nullopt;
        }
        std::optional<HookAccount> account = AccountOf(entry);
        account->drop = true;  // and no supplementary groups, as the helper has none
        return account;
    }
    failure = HookUserRefusal(userName);
    if (!failure.empty() ||
        ::getpwnam_r(userName.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || entry.pw_uid == 0) {
        return std::nullopt;
    }
    std::optional<HookAccount> account = AccountOf(entry);
    account->drop = true;
    int count = 64;
    account->groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(entry.pw_name, entry.pw_gid, account->groups.data(), &count) < 0) {
        account->groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(entry.pw_name, entry.pw_gid, account->groups.data(), &count);
    }
    account->groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return account;
}

// In the child, between fork and exec: system calls only.
[[noreturn]] void RunChild(int program, bool script, char* const* argv, char* const* envp,
                           const HookAccount& account, int output, pid_t parent, int lastFd) {
    ::setsid();
    if (account.drop) {
        if (::setgroups(account.groups.size(), account.groups.data()) != 0 ||
            ::setresgid(account.gid, account.gid, account.gid) != 0 ||
            ::setresuid(account.uid, account.uid, account.uid) != 0 || ::geteuid() != account.uid ||
            ::getegid() != account.gid || ::setuid(0) == 0) {
            ::_exit(126);
        }
    }
    // The kernel forgets this on a change of user, so it is set after it. A service killed
    // without a chance to end its hooks takes them along.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::getppid() != parent ||
        ::chdir("/") != 0) {
        ::_exit(126);
    }
    // Each moved above 3 first, so that no dup2 below replaces another of them.
    const int input = ::fcntl(::open("/dev/null", O_RDONLY | O_CLOEXEC), F_DUPFD_CLOEXEC, 10);
    const int out = ::fcntl(output, F_DUPFD_CLOEXEC, 10);
    const int run = ::fcntl(program, F_DUPFD_CLOEXEC, 10);
    if (input < 0 || out < 0 || run < 0 || ::dup2(input, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(out, 2) < 0 || ::dup2(run, 3) < 0 ||
        (!script && ::fcntl(3, F_SETFD, FD_CLOEXEC) != 0)) {
        ::_exit(126);
    }
    // Nothing of the service reaches the hook: not its control socket, store or log files.
    if (::syscall(SYS_close_range, 4U, ~0U, 0U) != 0) {
        for (int fd = 4; fd <= lastFd; ++fd) {
            ::close(fd);
        }
    }
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &standard, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::fexecve(3, argv, envp);
    constexpr char kFailed[] = "the program could not be executed as the hooks' account\n";
    [[maybe_unused]] const ssize_t told = ::write(2, kFailed, sizeof kFailed - 1);
    ::_exit(127);
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads what is there without blocking, keeping the first kHookOutputLimit bytes; false once
// every writer has closed its end. A few reads at a time, so that a hook that writes without
// end still meets its time limit and the stop.
bool TakeOutput(int fd, HookRunResult& result) {
    char buffer[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            const std::size_t room = kHookOutputLimit - result.output.size();
            const auto size = static_cast<std::size_t>(got);
            result.output.append(buffer, std::min(size, room));
            result.outputCut = result.outputCut || size > room;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 && errno == EAGAIN;
    }
    return true;
}

void Record(HookRunResult& result, int status) {
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

}  // namespace

std::string HookUserRefusal(const std::string& userName) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwnam_r(userName.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return "there is no account named " + userName + " to run the hooks as";
    }
    if (entry.pw_uid == 0) {
        return userName + " is an account of root's user id, which hooks never run as";
    }
    return {};
}

std::string HooksUnsupported() {
    return {};
}

std::string HooksFolder() {
    return RootedPath("/etc/quarnel-updater/hooks.d");
}

std::vector<HookProgram> FindHookPrograms(const std::string& folder) {
    std::vector<HookProgram> programs;
    if (!IsDirectory(folder)) {
        return programs;
    }
    const RootOnlyEntry listing = OpenRootOnly(folder, O_RDONLY | O_DIRECTORY);
    for (const std::string& name : FolderEntries(listing.fd, folder)) {
        HookProgram program{name, folder + "/" + name, {}};
        // A link in the folder counts as much as the folder of the file it names.
        if (!listing.refusal.empty()) {
            program.refusal = listing.refusal + ", so not only root could change its programs";
        } else {
            program.refusal = OpenProgram(program.path).refusal;
        }
        programs.push_back(std::move(program));
    }
    return programs;
}

HookRunResult RunHookProgram(const std::string& path, const std::vector<std::string>& environment,
                             const std::string& userName, std::int64_t timeLimitMs,
                             const WaitHandle& stop) {
    HookRunResult result;
    const std::optional<HookAccount> account = FindAccount(userName, result.failure);
    if (!account) {
        return result;
    }
    // Checked again on the descriptor that is run, just before it runs.
    const RootOnlyEntry program = OpenProgram(path);
    if (!program.refusal.empty()) {
        result.failure = program.refusal;
        return result;
    }
    const bool script = IsScript(program.fd);
    std::vector<std::string> variables = environment;
    variables.push_back("HOME=" + account->home);
    variables.push_back("USER=" + account->name);
    variables.push_back("LOGNAME=" + account->name);
    variables.push_back(std::string("PATH=") + kHookPath);
    std::vector<std::string> arguments = {path};
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> envp = Pointers(variables);
    rlimit files = {};
    const int lastFd = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536
                           ? static_cast<int>(files.rlim_cur)
                           : 65536;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.failure = "no pipe for its output";
        return result;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    ::fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.failure = "it could not be started";
        return result;
    }
    if (pid == 0) {
        RunChild(program.fd.Get(), script, argv.data(), envp.data(), *account, writeEnd.Get(),
                 parent, lastFd);
    }
    result.started = true;
    writeEnd.Reset();
    const UniqueFd processFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    bool outputOpen = true;
    while (true) {
        // Seen ended but not reaped yet, so that its process group can still be ended safely.
        siginfo_t ended = {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            ended.si_pid == pid) {
            result.finished = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        if (stop && IsEventHandleSet(stop)) {
            result.stopped = true;
            break;
        }
        // Without a process descriptor (an old kernel) poll in short slices instead.
        const int slice = static_cast<int>(processFd ? left : std::min<std::int64_t>(left, 20));
        pollfd watched[3] = {{outputOpen ? readEnd.Get() : -1, POLLIN, 0},
                             {processFd ? processFd.Get() : -1, POLLIN, 0},
                             {stop ? DescriptorOf(stop->Handle()) : -1, POLLIN, 0}};
        if (::poll(watched, 3, slice) < 0 && errno != EINTR) {
            break;
        }
        if (outputOpen) {
            outputOpen = TakeOutput(readEnd.Get(), result);
        }
    }
    // Whatever the hook left running goes with it; after a time-out or a stop the hook too.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Record(result, status);
    if (outputOpen) {
        TakeOutput(readEnd.Get(), result);
    }
    return result;
}

}  // namespace quarnel
