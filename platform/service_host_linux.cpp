#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/service_control_line.h"
#include "platform/service_host.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace {

constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlPowerEvent = 13;
constexpr std::uint32_t kControlSettingsChanged = 128;
constexpr std::uint32_t kPowerSuspend = 0x4;
constexpr std::uint32_t kPowerResumeAutomatic = 0x12;

constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;

// A request line, terminator included, is never longer; a longer one is refused.
constexpr std::size_t kMaximumRequest = 1024;
// How long a client may take to send its request, and the service to handle and answer it.
constexpr int kRequestTimeoutMs = 2000;
constexpr int kReplyTimeoutMs = 30000;
// Messages handled per wake-up of the bus connection; the rest waits for the next one.
constexpr int kBusMessagesPerWake = 64;

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Reads up to and including the first line feed, within timeoutMs; false on time-out, error,
// end of stream or a line longer than the limit.
bool ReadLine(int fd, int timeoutMs, std::string& line) {
    line.clear();
    const std::int64_t deadline = MonotonicMilliseconds() + timeoutMs;
    while (line.size() < kMaximumRequest) {
        const std::int64_t left = deadline - MonotonicMilliseconds();
        if (left <= 0) {
            return false;
        }
        pollfd poller{fd, POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        char buffer[256];
        const std::size_t room = std::min(sizeof buffer, kMaximumRequest - line.size());
        const ssize_t got = ::recv(fd, buffer, room, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        line.append(buffer, static_cast<std::size_t>(got));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) {
            // The protocol has no pipelining: whatever follows the line is ignored.
            line.resize(end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
    }
    return false;
}

bool WriteText(int fd, const std::string& text, int timeoutMs) {
    const std::int64_t deadline = MonotonicMilliseconds() + timeoutMs;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t sent =
            ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const std::int64_t left = deadline - MonotonicMilliseconds();
        pollfd poller{fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&poller, 1, static_cast<int>(left)) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

struct ServiceHostControls::State {
    sigset_t signals{};
    sigset_t previousMask{};
    UniqueFd signalFd;
    UniqueFd listener;
    std::string socketPath;
    ino_t socketInode = 0;
    sd_bus* bus = nullptr;
    sd_bus_slot* sleepSlot = nullptr;
    std::vector<ServiceHostControl> busControls;

    void OpenControlSocket();
    void CloseBus() {
        sleepSlot = sd_bus_slot_unref(sleepSlot);
        bus = sd_bus_flush_close_unref(bus);
    }
    void OpenBus();
    static int OnPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*);
    void HandleSignals(const ServiceControlDelivery& deliver);
    void HandleConnection(const ServiceControlDelivery& deliver);
    void HandleBus(const ServiceControlDelivery& deliver);
};

void ServiceHostControls::State::OpenControlSocket() {
    const std::string folder = RuntimeFolder();
    socketPath = ServiceControlSocketPath();
    sockaddr_un address{};
    if (!SocketAddress(socketPath, address) || !CreateFolders(folder, 0755)) {
        return;
    }
    struct stat existing = {};
    if (::lstat(socketPath.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            return;  // not ours to remove
        }
        // A socket that still answers belongs to a live service process: leave it alone.
        UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (probe && ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof address) == 0) {
            return;
        }
        ::unlink(socketPath.c_str());
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd || ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    struct stat bound = {};
    // The mode keeps other users from connecting; the peer check after accept holds anyway.
    if (::chmod(socketPath.c_str(), 0600) != 0 || ::lstat(socketPath.c_str(), &bound) != 0 ||
        ::listen(fd.Get(), 16) != 0) {
        ::unlink(socketPath.c_str());
        return;
    }
    socketInode = bound.st_ino;
    listener = std::move(fd);
}

int ServiceHostControls::State::OnPrepareForSleep(sd_bus_message* message, void* userdata,
                                                  sd_bus_error*) {
    auto* state = static_cast<State*>(userdata);
    int sleepStarts = 0;
    if (sd_bus_message_read(message, "b", &sleepStarts) >= 0) {
        state->busControls.push_back(SleepSignalControl(sleepStarts != 0));
    }
    return 0;
}

void ServiceHostControls::State::OpenBus() {
    if (sd_bus_open_system(&bus) < 0) {
        bus = nullptr;
        return;  // no system bus: no sleep notifications, silently
    }
    if (sd_bus_match_signal(bus, &sleepSlot, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", OnPrepareForSleep,
                            this) < 0) {
        CloseBus();
    }
}

void ServiceHostControls::State::HandleSignals(const ServiceControlDelivery& deliver) {
    signalfd_siginfo info{};
    while (::read(signalFd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        ServiceHostControl control;
        control.control = info.ssi_signo == SIGHUP ? kControlSettingsChanged : kControlStop;
        ServiceStatus ignored;
        (void)deliver(control, ignored);
    }
}

void ServiceHostControls::State::HandleConnection(const ServiceControlDelivery& deliver) {
    UniqueFd connection(::accept4(listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!connection) {
        return;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(connection.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        (peer.uid != 0 && peer.uid != ::geteuid())) {
        return;  // closing without an answer: the request is refused
    }
    std::string line;
    ServiceHostControl control;
    ServiceStatus status;
    bool delivered = false;
    if (ReadLine(connection.Get(), kRequestTimeoutMs, line) && ParseControlRequest(line, control)) {
        delivered = deliver(control, status);
    }
    (void)WriteText(connection.Get(), FormatControlReply(delivered, status) + "\n",
                    kRequestTimeoutMs);
}

void ServiceHostControls::State::HandleBus(const ServiceControlDelivery& deliver) {
    for (int i = 0; i < kBusMessagesPerWake; ++i) {
        const int result = sd_bus_process(bus, nullptr);
        if (result < 0) {
            CloseBus();  // the bus went away; without it there are no sleep notifications
            break;
        }
        if (result == 0) {
            break;
        }
    }
    std::vector<ServiceHostControl> controls;
    controls.swap(busControls);
    for (const ServiceHostControl& control : controls) {
        ServiceStatus ignored;
        (void)deliver(control, ignored);
    }
}

ServiceHostControl SleepSignalControl(bool sleepStarts) {
    ServiceHostControl control;
    control.control = kControlPowerEvent;
    control.eventType = sleepStarts ? kPowerSuspend : kPowerResumeAutomatic;
    return control;
}

bool ReportStatusToServiceManager(const ServiceStatus& status, std::string_view stateName) {
    std::string text;
    if (status.currentState == kStateRunning) {
        text += "READY=1\n";
    } else if (status.currentState == kStateStopPending) {
        text += "STOPPING=1\n";
    }
    text += "STATUS=";
    text += stateName;
    text += " (check point " + std::to_string(status.checkPoint) + ")";
    // 0 means no service manager asked for reports: the service runs in the foreground.
    return sd_notify(0, text.c_str()) >= 0;
}

void BlockServiceHostSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::string ServiceControlSocketPath() {
    return RuntimeFolder() + "/control";
}

ServiceHostControls::ServiceHostControls() : state_(std::make_unique<State>()) {
    sigemptyset(&state_->signals);
    sigaddset(&state_->signals, SIGTERM);
    sigaddset(&state_->signals, SIGINT);
    sigaddset(&state_->signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &state_->signals, &state_->previousMask);
    state_->signalFd.Reset(::signalfd(-1, &state_->signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!state_->signalFd) {
        // Blocked signals nobody reads would make the service unstoppable; without the
        // descriptor they keep their default action and end the process (also when they were
        // blocked before the host existed).
        ::pthread_sigmask(SIG_UNBLOCK, &state_->signals, nullptr);
    }
    state_->OpenControlSocket();
    state_->OpenBus();
}

ServiceHostControls::~ServiceHostControls() {
    if (state_->listener) {
        struct stat current = {};
        // Only the socket this object bound; a successor may already have bound a new one.
        if (::lstat(state_->socketPath.c_str(), &current) == 0 &&
            current.st_ino == state_->socketInode) {
            ::unlink(state_->socketPath.c_str());
        }
    }
    state_->CloseBus();
    // A stop signal that came after the last control was taken would end the process the moment
    // the mask is restored; the services have stopped already, so it is consumed here.
    signalfd_siginfo info{};
    while (state_->signalFd && ::read(state_->signalFd.Get(), &info, sizeof info) ==
                                   static_cast<ssize_t>(sizeof info)) {
    }
    ::pthread_sigmask(SIG_SETMASK, &state_->previousMask, nullptr);
}

bool ServiceHostControls::ControlSocketOpen() const {
    return state_->listener.Valid();
}

bool ServiceHostControls::SleepSignalSubscribed() const {
    return state_->bus != nullptr;
}

bool ServiceHostControls::Run(const WaitHandle& finished, const ServiceControlDelivery& deliver) {
    if (!finished) {
        return false;
    }
    while (true) {
        pollfd polls[4] = {{DescriptorOf(finished->Handle()), POLLIN, 0},
                           {state_->signalFd.Get(), POLLIN, 0},
                           {state_->listener.Get(), POLLIN, 0},
                           {-1, 0, 0}};
        int timeoutMs = -1;
        if (state_->bus != nullptr) {
            const int events = sd_bus_get_events(state_->bus);
            polls[3] = {sd_bus_get_fd(state_->bus), static_cast<short>(events < 0 ? 0 : events), 0};
            std::uint64_t until = 0;
            if (sd_bus_get_timeout(state_->bus, &until) >= 0 && until != UINT64_MAX) {
                struct timespec now = {};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                                            static_cast<std::uint64_t>(now.tv_nsec) / 1000;
                const std::uint64_t leftMs = until > nowUs ? (until - nowUs + 999) / 1000 : 0;
                timeoutMs = static_cast<int>(std::min<std::uint64_t>(leftMs, 60000));
            }
        }
        // A negative descriptor is skipped by poll: absent sources cost nothing.
        const int ready = ::poll(polls, 4, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (polls[0].revents & POLLNVAL) {
            return false;
        }
        if (polls[1].revents & POLLIN) {
            state_->HandleSignals(deliver);
        }
        if (polls[2].revents & POLLIN) {
            state_->HandleConnection(deliver);
        }
        if (state_->bus != nullptr) {
            state_->HandleBus(deliver);
        }
        if ((polls[0].revents & (POLLIN | POLLERR | POLLHUP)) && finished->TakeSignal()) {
            return true;
        }
    }
}

bool SendServiceHostControl(const ServiceHostControl& control, ServiceStatus& status) {
    if (control.serviceName.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
        return false;
    }
    sockaddr_un address{};
    if (!SocketAddress(ServiceControlSocketPath(), address)) {
        return false;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    const std::string request = FormatControlRequest(control) + "\n";
    if (request.size() > kMaximumRequest) {
        return false;
    }
    std::string reply;
    bool delivered = false;
    ServiceStatus answered;
    if (!WriteText(fd.Get(), request, kRequestTimeoutMs) ||
        !ReadLine(fd.Get(), kReplyTimeoutMs, reply) ||
        !ParseControlReply(reply, delivered, answered)) {
        return false;
    }
    status = answered;
    return delivered;
}

}  // namespace quarnel
