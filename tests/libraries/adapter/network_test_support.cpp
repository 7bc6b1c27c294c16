#include "tests/libraries/adapter/network_test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "diagnostics/log.h"
#include "platform/global_handles.h"
#include "platform/paths.h"

extern char** environ;

namespace quarnel::test {
namespace {

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool BindOver(const std::string& source, const char* target, std::string& reason) {
    if (::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) != 0) {
        reason = std::string("cannot bind-mount over ") + target + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// A minimal installation may lack a file to bind over (/etc/hosts comes with netbase, which
// debootstrap's minbase leaves out), or have /etc/resolv.conf point into a /run that holds
// nothing. An overlay on /etc, seen only in this mount namespace, gives each of them a plain
// empty file to bind over without touching the machine's /etc.
bool MakeMountTargets(const std::vector<const char*>& targets, const std::string& folder,
                      std::string& reason) {
    bool missing = false;
    for (const char* target : targets) {
        missing = missing || ::access(target, F_OK) != 0;
    }
    if (!missing) {
        return true;
    }
    const std::string layers = folder + "/etc-layers";
    if (::mkdir(layers.c_str(), 0700) != 0 ||
        ::mount("tmpfs", layers.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=700") != 0 ||
        ::mkdir((layers + "/upper").c_str(), 0755) != 0 ||
        ::mkdir((layers + "/work").c_str(), 0700) != 0) {
        reason = std::string("cannot prepare an overlay for /etc: ") + std::strerror(errno);
        return false;
    }
    const std::string options =
        "lowerdir=/etc,upperdir=" + layers + "/upper,workdir=" + layers + "/work";
    const bool overlaid = ::mount("overlay", "/etc", "overlay", 0, options.c_str()) == 0;
    const int error = errno;
    // The overlay holds its layers itself; the folder can go with the test's other files.
    ::umount2(layers.c_str(), MNT_DETACH);
    ::rmdir(layers.c_str());
    if (!overlaid) {
        reason =
            std::string("/etc lacks a name file and cannot be overlaid: ") + std::strerror(error);
        return false;
    }
    for (const char* target : targets) {
        if (::access(target, F_OK) == 0) {
            continue;
        }
        // A dangling link goes first, so the new file lands in the overlay, not where it points.
        (void)::unlink(target);
        const int file = ::open(target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file < 0) {
            reason =
                std::string("cannot create ") + target + " in the overlay: " + std::strerror(errno);
            return false;
        }
        ::close(file);
    }
    return true;
}

}  // namespace

bool EnterPrivateNetwork(const std::string& hostName, const std::string& hostsLines,
                         std::string& reason) {
    if (::geteuid() != 0) {
        reason = "needs root: the test creates a network namespace with veth interfaces";
        return false;
    }
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWUTS) != 0) {
        reason = std::string("cannot create network namespace: ") + std::strerror(errno);
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        reason = std::string("cannot make mounts private: ") + std::strerror(errno);
        return false;
    }
    if (::sethostname(hostName.data(), hostName.size()) != 0) {
        reason = std::string("cannot set the host name: ") + std::strerror(errno);
        return false;
    }
    // A bind mount keeps its file reachable after the file's name is gone, so the folder can go
    // at once.
    const TemporaryFolder files;
    const std::string& folder = files.Path();
    const std::string hosts = folder + "/hosts";
    const std::string nsswitch = folder + "/nsswitch.conf";
    const std::string resolver = folder + "/resolv.conf";
    if (!WriteText(hosts, "127.0.0.1 localhost\n" + hostsLines) ||
        !WriteText(nsswitch, "hosts: files\n") || !WriteText(resolver, "nameserver 127.0.0.1\n")) {
        reason = "cannot write the namespace's name files";
        return false;
    }
    const std::vector<const char*> targets = {"/etc/hosts", "/etc/nsswitch.conf",
                                              "/etc/resolv.conf"};
    // An earlier call in this process left its binds, whose files are gone by now, and nothing
    // can be mounted over a removed file: they come off first (in this mount namespace only).
    for (const char* target : targets) {
        for (int layer = 0; layer < 16 && ::umount2(target, MNT_DETACH) == 0; ++layer) {
        }
    }
    if (!MakeMountTargets(targets, folder, reason) || !BindOver(hosts, "/etc/hosts", reason) ||
        !BindOver(nsswitch, "/etc/nsswitch.conf", reason) ||
        !BindOver(resolver, "/etc/resolv.conf", reason)) {
        return false;
    }
    if (!RunIp({"link", "set", "lo", "up"})) {
        reason = "cannot bring up the namespace's loopback interface";
        return false;
    }
    return true;
}

bool RunIp(const std::vector<std::string>& arguments) {
    std::vector<std::string> args{"ip"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string UniqueName(const std::string& prefix) {
    std::string name = prefix + std::to_string(::getpid());
    return name.substr(0, 15);
}

bool AddVethPair(const std::string& name, const std::string& peer, const std::string& address) {
    return RunIp({"link", "add", name, "type", "veth", "peer", "name", peer}) &&
           RunIp({"link", "set", name, "up"}) && RunIp({"link", "set", peer, "up"}) &&
           (address.empty() || RunIp({"addr", "add", address, "dev", name}));
}

}  // namespace quarnel::test
