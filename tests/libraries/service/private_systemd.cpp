#include "tests/libraries/service/private_systemd.h"

#include <fcntl.h>
#include <ftw.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"

namespace quarnel::test {
namespace {

constexpr const char* kCgroupRoot = "/sys/fs/cgroup";
constexpr const char* kSearchPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
constexpr const char* kSharedFolder = "/run/quarnel-test";

bool Exists(const std::string& path) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string FirstExisting(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (Exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

// An entry of the machine's /sys/fs/cgroup to recreate in the private copy.
struct CgroupEntry {
    std::string path;           // /sys/fs/cgroup/<name>
    std::string hostCopy;       // the same hierarchy reached through the bind of the original
    std::string symlinkTarget;  // empty for a hierarchy (a folder)
};

// A file or folder of the test's: the manager's first process opens it (O_PATH) at a fixed
// descriptor before the tmpfs on /tmp may hide its path, and binds it below kSharedFolder from
// there. (A bind's source must be a mount of the caller's own mount namespace, so it is opened
// in the new one, not before.)
struct SharedEntry {
    std::string path;
    int descriptor = -1;
    std::string source;  // /proc/self/fd/<descriptor>
    std::string target;  // below kSharedFolder
    bool folder = false;
};

// Everything the namespace's first process does before it becomes systemd, prepared before
// fork so that the child only makes system calls.
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's leak check at exit runs under ptrace, which the unit's system-call filter
// forbids; the test programs check the same code for leaks.
#define SANITIZER_MANAGER_ENVIRONMENT "DefaultEnvironment=ASAN_OPTIONS=detect_leaks=0\n"
#else
#define SANITIZER_MANAGER_ENVIRONMENT ""
#endif

struct BootPlan {
    std::string hostCgroupCopy;
    std::vector<CgroupEntry> cgroupEntries;  // empty when /sys/fs/cgroup stays as it is
    std::vector<std::pair<std::string, std::string>> binds;  // source, target
    std::vector<std::string> tmpfsTargets;
    std::vector<SharedEntry> shared;  // bound once the tmpfs is on /run
    std::string resolvConf;
    std::string logPath;
    std::string systemd;
    std::vector<std::string> arguments;
};

// Runs in the namespace's PID 1. Exits with a code that names the failed step.
[[noreturn]] void BecomeManager(const BootPlan& plan) {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        ::_exit(101);
    }
    if (::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        ::_exit(102);
    }
    if (!plan.cgroupEntries.empty()) {
        // systemd remounts /sys/fs/cgroup read-only; on a tmpfs of its own that stays private.
        if (::mount(kCgroupRoot, plan.hostCgroupCopy.c_str(), nullptr, MS_BIND | MS_REC, nullptr) !=
                0 ||
            ::mount("tmpfs", kCgroupRoot, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=755") !=
                0) {
            ::_exit(103);
        }
        for (const CgroupEntry& entry : plan.cgroupEntries) {
            if (!entry.symlinkTarget.empty()) {
                if (::symlink(entry.symlinkTarget.c_str(), entry.path.c_str()) != 0) {
                    ::_exit(104);
                }
            } else if (::mkdir(entry.path.c_str(), 0755) != 0 ||
                       ::mount(entry.hostCopy.c_str(), entry.path.c_str(), nullptr, MS_BIND,
                               nullptr) != 0) {
                ::_exit(105);
            }
        }
        ::umount2(plan.hostCgroupCopy.c_str(), MNT_DETACH);
    }
    for (const auto& [source, target] : plan.binds) {
        if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            ::_exit(107);
        }
    }
    // Where /etc/resolv.conf is a link into /run it now points nowhere, which leaves the
    // resolver on 127.0.0.1 as well.
    (void)::mount(plan.resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr);
    (void)::sethostname("quarnel-test", 12);

    for (const SharedEntry& entry : plan.shared) {
        const int opened = ::open(entry.path.c_str(), O_PATH | O_CLOEXEC);
        if (opened < 0 || ::dup2(opened, entry.descriptor) < 0) {
            ::_exit(110);
        }
        ::close(opened);
    }
    const int log = ::open(plan.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int null = ::open("/dev/null", O_RDONLY);
    if (log < 0 || null < 0) {
        ::_exit(108);
    }
    // The test's folders may lie below /tmp: everything from there is bound or opened by now.
    for (const std::string& target : plan.tmpfsTargets) {
        if (::mount("tmpfs", target.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
            ::_exit(106);
        }
    }
    if (!plan.shared.empty() && ::mkdir(kSharedFolder, 0755) != 0) {
        ::_exit(111);
    }
    for (const SharedEntry& entry : plan.shared) {
        if (entry.folder) {
            if (::mkdir(entry.target.c_str(), 0755) != 0) {
                ::_exit(111);
            }
        } else {
            const int placeholder =
                ::open(entry.target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (placeholder < 0) {
                ::_exit(111);
            }
            ::close(placeholder);
        }
        if (::mount(entry.source.c_str(), entry.target.c_str(), nullptr, MS_BIND | MS_REC,
                    nullptr) != 0) {
            ::_exit(112);
        }
        ::close(entry.descriptor);
    }
    ::dup2(null, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    std::vector<char*> argv;
    for (const std::string& argument : plan.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    char containerVariable[] = "container=quarnel-test";
    char pathVariable[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* environment[] = {containerVariable, pathVariable, nullptr};
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(plan.systemd.c_str(), argv.data(), environment);
    ::_exit(109);
}

// Brings up the loopback interface of the (new) network namespace of the calling process.
bool LoopbackUp() {
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    ::close(control);
    return up;
}

std::string NamespaceOf(const std::string& process) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/proc/" + process + "/ns/net", error);
    return error ? std::string() : target.string();
}

int RemoveFolder(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP) {
        ::rmdir(path);
    }
    return 0;
}

}  // namespace

PrivateSystemd::PrivateSystemd(const std::string& root, PrivateSystemdOptions options)
    : root_(root), options_(std::move(options)) {
    booted_ = Boot();
}

std::string PrivateSystemd::SharedPath(const std::string& outside) {
    return std::string(kSharedFolder) + "/" + std::filesystem::path(outside).filename().string();
}

std::string PrivateSystemd::ProgramPath() {
    return SharedPath(test::ProgramPath());
}

bool PrivateSystemd::Boot() {
    if (::geteuid() != 0) {
        skipReason_ = "booting a private systemd needs root";
        return false;
    }
    BootPlan plan;
    plan.systemd = FirstExisting({"/lib/systemd/systemd", "/usr/lib/systemd/systemd"});
    if (plan.systemd.empty() || FirstExisting({"/usr/bin/nsenter", "/bin/nsenter"}).empty()) {
        skipReason_ = "systemd or nsenter is not installed";
        return false;
    }
    if (!options_.ownNetwork && NamespaceOf("thread-self") == NamespaceOf("1")) {
        failure_ =
            "a manager sharing the caller's network needs the test to have moved into a "
            "network namespace of its own first";
        return false;
    }

    // The hierarchies in which the manager gets a cgroup of its own: the systemd one (named or
    // unified) decides where its tree starts.
    std::vector<std::string> hierarchies;
    if (Exists(std::string(kCgroupRoot) + "/cgroup.procs")) {
        hierarchies.push_back(kCgroupRoot);
    } else if (Exists(std::string(kCgroupRoot) + "/systemd/cgroup.procs")) {
        hierarchies.push_back(std::string(kCgroupRoot) + "/systemd");
        if (Exists(std::string(kCgroupRoot) + "/unified/cgroup.procs")) {
            hierarchies.push_back(std::string(kCgroupRoot) + "/unified");
        }
    } else {
        skipReason_ = "no cgroup hierarchy that systemd can manage";
        return false;
    }
    static int counter = 0;
    const std::string cgroupName =
        "quarnel-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    for (const std::string& hierarchy : hierarchies) {
        const std::string folder = hierarchy + "/" + cgroupName;
        if (::mkdir(folder.c_str(), 0755) != 0) {
            skipReason_ = "cannot create the cgroup " + folder + ": " + std::strerror(errno);
            return false;
        }
        cgroups_.push_back(folder);
    }

    const std::string work = root_ + "/namespace";
    const std::string units = root_ + "/etc/systemd/system";
    std::filesystem::create_directories(units);
    std::filesystem::create_directories(root_ + "/var/lib/quarnel-updater");
    std::filesystem::create_directories(root_ + "/var/log/quarnel-updater");
    std::filesystem::create_directories(work + "/cgroup-host");
    // The manager starts one empty target; the targets that every service pulls in are empty
    // too, so nothing of the machine's own boot runs.
    WriteText(units + "/quarnel-test.target", "[Unit]\nDescription=Quarnel test target\n");
    for (const char* target : {"sysinit.target", "basic.target", "local-fs.target"}) {
        WriteText(units + "/" + target, std::string("[Unit]\nDescription=Empty ") + target + "\n");
    }
    // No resource accounting: the manager then creates cgroups in its own hierarchy only.
    WriteText(work + "/system.conf",
              "[Manager]\nDefaultCPUAccounting=no\nDefaultIOAccounting=no\n"
              "DefaultBlockIOAccounting=no\nDefaultMemoryAccounting=no\n"
              "DefaultTasksAccounting=no\n" SANITIZER_MANAGER_ENVIRONMENT);
    WriteText(work + "/resolv.conf", "nameserver 127.0.0.1\n");

    plan.hostCgroupCopy = work + "/cgroup-host";
    if (hierarchies.front() != kCgroupRoot) {
        for (const auto& entry : std::filesystem::directory_iterator(kCgroupRoot)) {
            CgroupEntry copy;
            const std::string name = entry.path().filename().string();
            copy.path = std::string(kCgroupRoot) + "/" + name;
            copy.hostCopy = plan.hostCgroupCopy + "/" + name;
            if (entry.is_symlink()) {
                copy.symlinkTarget = std::filesystem::read_symlink(entry.path()).string();
            } else if (!entry.is_directory()) {
                continue;
            }
            plan.cgroupEntries.push_back(copy);
        }
    }
    plan.tmpfsTargets = {"/run", "/tmp", "/var/tmp"};
    std::vector<std::string> shared = options_.shared;
    // The helper appears beside the program, where the program looks for it.
    shared.insert(shared.begin(), {test::ProgramPath(), test::HelperProgramPath()});
    for (const std::string& path : shared) {
        if (!Exists(path)) {
            failure_ = "cannot share " + path + " with the namespace: it does not exist";
            return false;
        }
        // Descriptors from 200 on are free in the manager's first process: it opens nothing else
        // that it keeps before it execs.
        const int descriptor = 200 + static_cast<int>(plan.shared.size());
        plan.shared.push_back({path, descriptor, "/proc/self/fd/" + std::to_string(descriptor),
                               SharedPath(path), std::filesystem::is_directory(path)});
    }
    plan.binds = {{units, "/etc/systemd/system"},
                  {root_ + "/var/lib", "/var/lib"},
                  {root_ + "/var/log", "/var/log"},
                  {work + "/system.conf", "/etc/systemd/system.conf"}};
    plan.resolvConf = work + "/resolv.conf";
    plan.logPath = work + "/manager.log";
    plan.arguments = {plan.systemd, "--unit=quarnel-test.target", "--log-target=console",
                      "--log-level=info", "--show-status=no"};

    int pidPipe[2];
    int goPipe[2];
    if (::pipe2(pidPipe, O_CLOEXEC) != 0 || ::pipe2(goPipe, O_CLOEXEC) != 0) {
        return false;
    }
    helperPid_ = ::fork();
    if (helperPid_ == 0) {
        // The helper: waits until it sits in its cgroups, then makes the namespaces and the
        // manager, reports the manager's PID and waits for it.
        char go = 0;
        const int network = options_.ownNetwork ? CLONE_NEWNET : 0;
        if (::read(goPipe[0], &go, 1) != 1 ||
            ::unshare(CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWUTS | network) != 0 ||
            (network != 0 && !LoopbackUp())) {
            ::_exit(100);
        }
        const pid_t manager = ::fork();
        if (manager == 0) {
            BecomeManager(plan);
        }
        (void)!::write(pidPipe[1], &manager, sizeof manager);
        int status = 0;
        while (::waitpid(manager, &status, 0) < 0 && errno == EINTR) {
        }
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    ::close(pidPipe[1]);
    ::close(goPipe[0]);
    if (helperPid_ < 0) {
        ::close(pidPipe[0]);
        ::close(goPipe[1]);
        return false;
    }
    bool moved = true;
    for (const std::string& folder : cgroups_) {
        moved = WriteText(folder + "/cgroup.procs", std::to_string(helperPid_)) && moved;
    }
    const char go = 1;
    (void)!::write(goPipe[1], &go, 1);
    ::close(goPipe[1]);
    pollfd waitForPid{pidPipe[0], POLLIN, 0};
    if (::poll(&waitForPid, 1, 10000) == 1 &&
        ::read(pidPipe[0], &managerPid_, sizeof managerPid_) != sizeof managerPid_) {
        managerPid_ = -1;
    }
    ::close(pidPipe[0]);
    if (!moved || managerPid_ <= 0) {
        failure_ = "the manager's namespace could not be made";
        return false;
    }

    // Bounded wait for the manager to finish starting its target.
    for (int attempt = 0; attempt < 300; ++attempt) {
        int status = 0;
        if (::waitpid(helperPid_, &status, WNOHANG) == helperPid_) {
            failure_ = "the manager ended during boot with status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                       " (100-112: a step before it became systemd failed)";
            helperPid_ = -1;
            managerPid_ = -1;
            return false;
        }
        const std::string state = Systemctl({"is-system-running"});
        if (state == "running" || state == "degraded") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    failure_ = "the manager did not reach the running state within 30 seconds";
    return false;
}

PrivateSystemd::~PrivateSystemd() {
    if (managerPid_ > 0) {
        // SIGRTMIN+4 asks the manager to power off; in a container that ends it.
        ::kill(managerPid_, SIGRTMIN + 4);
    }
    if (helperPid_ > 0) {
        int status = 0;
        bool ended = false;
        for (int attempt = 0; attempt < 300 && !ended; ++attempt) {
            ended = ::waitpid(helperPid_, &status, WNOHANG) == helperPid_;
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        if (!ended) {
            ::kill(managerPid_, SIGKILL);
            ::kill(helperPid_, SIGKILL);
            ::waitpid(helperPid_, &status, 0);
        }
    }
    RemoveCgroups();
}

void PrivateSystemd::RemoveCgroups() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        bool left = false;
        for (const std::string& folder : cgroups_) {
            ::nftw(folder.c_str(), RemoveFolder, 16, FTW_DEPTH | FTW_PHYS);
            left = left || Exists(folder);
        }
        if (!left) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

CommandResult PrivateSystemd::Run(const std::vector<std::string>& command,
                                  const std::map<std::string, std::string>& environment,
                                  int timeoutSeconds) const {
    if (managerPid_ <= 0) {
        return {};
    }
    std::vector<std::string> full{FirstExisting({"/usr/bin/nsenter", "/bin/nsenter"}),
                                  "-t",
                                  std::to_string(managerPid_),
                                  "-m",
                                  "-p",
                                  "-u",
                                  "-n",
                                  "-r",  // the manager's root, too: the suite may run in a chroot
                                  "-w",
                                  "--",
                                  "/usr/bin/env",
                                  "-i",
                                  kSearchPath};
    for (const auto& [name, value] : environment) {
        full.push_back(name + "=" + value);
    }
    full.insert(full.end(), command.begin(), command.end());
    return RunCommand(full, timeoutSeconds * 1000);
}

std::string PrivateSystemd::Systemctl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"systemctl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string output = Run(command, {}, 30).output;
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

bool PrivateSystemd::WaitForUnitState(const std::string& unit, const std::string& state,
                                      int timeoutSeconds) const {
    for (int attempt = 0; attempt < timeoutSeconds * 10; ++attempt) {
        if (Systemctl({"is-active", unit}) == state) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string PrivateSystemd::ManagerLog() const {
    return failure_ + "\n" + ReadFileText(root_ + "/namespace/manager.log");
}

}  // namespace quarnel::test
