// "/configure" killed with SIGKILL at random moments, every run under the same process id (as
// when process ids are reused), on a store in a temporary root. Counts the settings that were
// lost (a value neither the old nor the new one) and the runs that reported "Settings saved."
// while a value did not read back. Root only (a chosen process id needs it):
//   QUARNEL_PROGRAM=build/quarnel-updater build/bench/configure_kill_bench [runs]

#include <fcntl.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

extern char** environ;

namespace {

using namespace quarnel;

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kHardwareId = "{00112233-4455-6677-8899-AABBCCDDEEFF}";

// Starts program with input on its standard input and its output on a pipe, as process id pid
// when pid is not 0; the child's id, or -1.
pid_t Spawn(const std::string& program, const std::string& input, pid_t pid, int& output) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    const char* arguments[] = {program.c_str(), "/configure", nullptr};
    clone_args args{};
    args.exit_signal = SIGCHLD;
    pid_t wanted = pid;
    if (pid != 0) {
        args.set_tid = reinterpret_cast<std::uint64_t>(&wanted);
        args.set_tid_size = 1;
    }
    const long child = ::syscall(SYS_clone3, &args, sizeof args);
    if (child == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execve(program.c_str(), const_cast<char* const*>(arguments), environ);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (child > 0) {
        (void)!::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    output = out[0];
    return static_cast<pid_t>(child);
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    const char* program = std::getenv("QUARNEL_PROGRAM");
    if (program == nullptr || ::geteuid() != 0) {
        std::fprintf(stderr, "needs root and QUARNEL_PROGRAM\n");
        return 2;
    }
    char pattern[] = "/var/tmp/quarnel-kill-XXXXXX";  // on disk: syncs take real time
    const std::string root = ::mkdtemp(pattern);
    ::setenv("QUARNEL_ROOT", root.c_str(), 1);
    // The stored password is read back through the helper built beside the program.
    ::setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0);
    ::setenv("LANG", "C", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    std::filesystem::create_directories(root + "/etc");
    std::ofstream(root + "/etc/machine-id") << "00112233445566778899aabbccddeeff\n";

    std::mt19937 random(std::random_device{}());
    pid_t fixed = 0;
    int reused = 0;
    int killed = 0;
    int saved = 0;
    int lost = 0;
    int misreported = 0;
    double longest = 0;
    std::string password;
    std::string hostname;
    for (int run = 0; run < runs; ++run) {
        const std::string newPassword = "pw" + std::to_string(run);
        const std::string newHostname = "h" + std::to_string(run) + ".example";
        int output = -1;
        const auto start = std::chrono::steady_clock::now();
        pid_t child = Spawn(program, "Password=" + newPassword + "\nHostname=" + newHostname + "\n",
                            fixed, output);
        if (child < 0 && fixed != 0) {
            child = Spawn(program, "", 0, output);  // the id is taken by another process
        }
        if (child < 0) {
            std::perror("clone3");
            return 1;
        }
        fixed = fixed == 0 ? child : fixed;
        reused += child == fixed ? 1 : 0;
        // The first runs finish and show how long a run takes; later ones are killed somewhere
        // within that time (every fourth one is left to finish).
        if (run >= 8 && run % 4 != 0) {
            std::uniform_int_distribution<long> delay(0, static_cast<long>(longest * 1000));
            const long microseconds = delay(random);
            const struct timespec pause = {microseconds / 1000000, (microseconds % 1000000) * 1000};
            ::nanosleep(&pause, nullptr);
            ::kill(child, SIGKILL);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        const std::string text = ReadAll(output);
        if (WIFSIGNALED(status)) {
            ++killed;
        } else if (took.count() > longest) {
            longest = took.count();
        }
        const bool reportedSaved = text.find("Settings saved.") != std::string::npos;
        saved += reportedSaved ? 1 : 0;
        const std::string storedPassword =
            ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, kHardwareId);
        const std::string storedHostname =
            ReadRegistryString(kMachine, kSettingsKey, kValueHostname);
        const bool passwordKnown = storedPassword == newPassword || storedPassword == password;
        const bool hostnameKnown = storedHostname == newHostname || storedHostname == hostname;
        lost += (passwordKnown ? 0 : 1) + (hostnameKnown ? 0 : 1);
        if (reportedSaved && (storedPassword != newPassword || storedHostname != newHostname)) {
            ++misreported;
            std::printf("run %d reported saved: password %s, host name %s\n", run,
                        storedPassword.c_str(), storedHostname.c_str());
        }
        password = storedPassword;
        hostname = storedHostname;
    }
    int leftovers = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/var/lib")) {
        leftovers += entry.path().filename().string().rfind(".tmp.", 0) == 0 ? 1 : 0;
    }
    std::printf(
        "%d runs under one process id (%d got it), %d killed; of the %d that ended, %d "
        "reported \"Settings saved.\" and %d could not store the settings\n",
        runs, reused, killed, runs - killed, saved, runs - killed - saved);
    std::printf("lost settings: %d; misreported runs: %d; temporary files left: %d\n", lost,
                misreported, leftovers);
    std::filesystem::remove_all(root);
    return lost == 0 && misreported == 0 ? 0 : 1;
}
