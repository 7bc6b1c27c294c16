#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/elevation.h"
#include "platform/process_as_user.h"

extern char** environ;

namespace quarnel {
namespace {

constexpr const char* kSystemPath = "/usr/local/bin:/usr/bin:/bin";

// Variables of this process that the user's program keeps: where the desktop is, which desktop
// it is, and the user's language.
constexpr std::string_view kKeptVariables[] = {"DISPLAY",
                                               "XAUTHORITY",
                                               "WAYLAND_DISPLAY",
                                               "XDG_CURRENT_DESKTOP",
                                               "XDG_SESSION_TYPE",
                                               "DESKTOP_SESSION",
                                               "LANG",
                                               "LANGUAGE",
                                               "LC_ALL",
                                               "LC_MESSAGES",
                                               "LC_CTYPE"};

bool OwnedBy(const std::string& path, std::uint32_t uid, mode_t type) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type &&
           info.st_uid == uid;
}

std::vector<std::string> UserEnvironment(const DesktopUser& user) {
    std::vector<std::string> variables;
    for (const std::string_view name : kKeptVariables) {
        const std::string key(name);
        if (const char* value = std::getenv(key.c_str())) {
            variables.push_back(key + "=" + value);
        }
    }
    variables.push_back("HOME=" + user.home);
    variables.push_back("USER=" + user.name);
    variables.push_back("LOGNAME=" + user.name);
    variables.push_back("SHELL=" + user.shell);
    variables.push_back(std::string("PATH=") + kSystemPath);
    const std::string runtime = "/run/user/" + std::to_string(user.uid);
    if (OwnedBy(runtime, user.uid, S_IFDIR)) {
        variables.push_back("XDG_RUNTIME_DIR=" + runtime);
        if (OwnedBy(runtime + "/bus", user.uid, S_IFSOCK)) {
            variables.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
        }
    }
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// In the child, between fork and exec: system calls only.
[[noreturn]] void RunChild(char* const* argv, char* const* envp, const DesktopUser& user,
                           const std::vector<gid_t>& groups, bool drop) {
    ::setsid();
    if (drop) {
        const gid_t gid = user.gid;
        const uid_t uid = user.uid;
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
            ::setresuid(uid, uid, uid) != 0 || ::geteuid() != uid || ::getegid() != gid ||
            ::setuid(0) == 0) {
            ::_exit(126);
        }
        if (::chdir(user.home.c_str()) != 0 && ::chdir("/") != 0) {
            ::_exit(126);
        }
    }
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) {
        ::_exit(126);
    }
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    // Nothing of the window's process reaches the user's program.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    // Signals ignored or blocked here are the window's business, not the program's.
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &standard, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

std::optional<DesktopUser> DesktopProgramUser() {
    const uid_t self = ::geteuid();
    const uid_t uid = self != 0 ? self : static_cast<uid_t>(InvokingUserId());
    if (uid == 0) {
        return std::nullopt;
    }
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    DesktopUser user;
    user.uid = found->pw_uid;
    user.gid = found->pw_gid;
    user.name = found->pw_name;
    user.home = found->pw_dir;
    user.shell = found->pw_shell;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count <= 0 || count > 65536) {
            return std::nullopt;
        }
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
            return std::nullopt;
        }
    }
    user.groups.assign(groups.begin(), groups.begin() + count);
    return user;
}

StartedProgram StartProgramAsUser(const std::vector<std::string>& arguments,
                                  const DesktopUser& user) {
    StartedProgram program;
    const uid_t self = ::geteuid();
    const bool drop = self == 0;
    if (arguments.empty() || arguments[0].empty() || arguments[0][0] != '/' || user.uid == 0 ||
        (!drop && user.uid != self)) {
        return program;
    }
    // Everything the child needs is made before the fork: after it, this process's other
    // threads may hold the allocator's locks.
    std::vector<std::string> argumentTexts = arguments;
    std::vector<char*> argv = Pointers(argumentTexts);
    std::vector<std::string> environmentTexts;
    std::vector<char*> envp;
    if (drop) {
        environmentTexts = UserEnvironment(user);
        envp = Pointers(environmentTexts);
    }
    const std::vector<gid_t> groups(user.groups.begin(), user.groups.end());
    const pid_t pid = ::fork();
    if (pid < 0) {
        return program;
    }
    if (pid == 0) {
        RunChild(argv.data(), drop ? envp.data() : environ, user, groups, drop);
    }
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

}  // namespace quarnel
