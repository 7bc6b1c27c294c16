#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/exchange_stop.h"
#include "platform/helper_call.h"
#include "platform/helper_call_frames.h"
#include "platform/process.h"
#include "platform/product.h"
#include "platform/spawn_setup_linux.h"
#include "platform/system_log.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace quarnel {
namespace {

constexpr const char* kHelperName = "quarnel-updater-helper";

bool Executable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// The helper's whole environment: proxies and a private certificate authority, nothing else of
// the caller's (no credentials, no paths).
bool Passed(std::string_view entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
        return false;
    }
    const std::string_view name = entry.substr(0, equals);
    if (name == "SSL_CERT_FILE" || name == "SSL_CERT_DIR") {
        return true;
    }
    // http_proxy, HTTPS_PROXY, no_proxy, all_proxy, ... in either case.
    constexpr std::string_view kProxy = "_proxy";
    return name.size() > kProxy.size() &&
           ToLowerAscii(name.substr(name.size() - kProxy.size())) == kProxy;
}

std::vector<char*> HelperEnvironment() {
    // libcurl links GnuTLS only for protocols the helper never uses; without this the library
    // sets itself up (and its PKCS#11 modules) in every helper, which slows each start.
    static char noGnutlsInit[] = "GNUTLS_NO_IMPLICIT_INIT=1";
    std::vector<char*> kept{noGnutlsInit};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (Passed(*entry)) {
            kept.push_back(*entry);
        }
    }
    kept.push_back(nullptr);
    return kept;
}

void ReportUnstartable(const std::string& path, int error) {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) {
        return;
    }
    WriteSystemLog(ServiceName, SystemLogPriority::Error,
                   "The helper program " + (path.empty() ? std::string("(unknown)") : path) +
                       " cannot be started (" + std::strerror(error) +
                       "): network transfers and cryptography give no answer.");
}

// A duplicate above every number the child's descriptors are moved to, so moving one never
// overwrites another that is still to be moved.
UniqueFd HighCopy(int fd, int floor) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, floor));
}

class Child {
  public:
    explicit Child(pid_t pid)
        : pid_(pid), handle_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Never leaves a zombie: a child not yet reaped is killed and reaped.
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap(true);
        }
    }
    int Handle() const { return handle_.Get(); }
    // True once reaped; status holds the wait status.
    bool Reap(bool block) {
        if (pid_ <= 0) {
            return true;
        }
        pid_t waited;
        do {
            waited = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
        } while (waited < 0 && errno == EINTR);
        if (waited == pid_ || (waited < 0 && errno == ECHILD)) {
            reapedCleanly_ = waited == pid_;
            pid_ = -1;
            return true;
        }
        return false;
    }
    bool Succeeded() const {
        return reapedCleanly_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
    }

  private:
    pid_t pid_;
    UniqueFd handle_;
    int status_ = 0;
    bool reapedCleanly_ = false;
};

// Reads the helper's frames as they arrive.
class FrameReader {
  public:
    FrameReader(std::size_t answerLimit, const HelperProgress& onProgress)
        : answerLimit_(answerLimit), onProgress_(onProgress) {}

    // False once the bytes cannot be frames of a well-behaved helper.
    bool Take(const char* data, std::size_t size) {
        pending_.append(data, size);
        while (pending_.size() >= kHelperFrameHeadSize) {
            if (answer_) {
                return false;  // nothing may follow the answer
            }
            const HelperFrameHead head = ReadHelperFrameHead(pending_);
            const bool progress = head.kind == kHelperProgressFrame;
            if ((!progress && head.kind != kHelperAnswerFrame) ||
                (progress && head.length > kHelperProgressLimit) ||
                (!progress && head.length > answerLimit_)) {
                return false;
            }
            if (pending_.size() < kHelperFrameHeadSize + head.length) {
                return true;
            }
            std::string payload = pending_.substr(kHelperFrameHeadSize, head.length);
            pending_.erase(0, kHelperFrameHeadSize + head.length);
            if (!progress) {
                answer_ = std::move(payload);
            } else if (onProgress_) {
                onProgress_(payload);
            }
        }
        return true;
    }
    // The answer, when the output ended after exactly one whole answer frame.
    std::optional<std::string> Answer() {
        if (!pending_.empty()) {
            return std::nullopt;
        }
        return std::move(answer_);
    }

  private:
    std::size_t answerLimit_;
    const HelperProgress& onProgress_;
    std::string pending_;
    std::optional<std::string> answer_;
};

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A started helper: its process and this side of its request socket and answer pipe.
struct RunningHelper {
    std::string path;
    std::unique_ptr<Child> child;
    UniqueFd request;
    UniqueFd answer;
};

// Starts the helper at path with the descriptors given as its fd 3, 4, ...; nothing when it
// cannot be started (reported once when the file cannot be run).
std::optional<RunningHelper> StartHelper(const std::string& path,
                                         const std::vector<int>& descriptors) {
    // The request goes through a socket rather than a pipe: sending with MSG_NOSIGNAL to a
    // helper that died early fails with EPIPE instead of raising SIGPIPE in this process.
    int requestPair[2];
    int answerPipe[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requestPair) != 0) {
        return std::nullopt;
    }
    UniqueFd requestOurs(requestPair[0]);
    UniqueFd requestTheirs(requestPair[1]);
    if (::pipe2(answerPipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd answerOurs(answerPipe[0]);
    UniqueFd answerTheirs(answerPipe[1]);
    if (::fcntl(answerOurs.Get(), F_SETFL, O_NONBLOCK) != 0 ||
        ::fcntl(requestOurs.Get(), F_SETFL, O_NONBLOCK) != 0) {
        return std::nullopt;
    }

    // The child's descriptors: 0 request, 1 answer, 2 this process's error output (where a
    // helper's complaint reaches the journal), then the caller's files as 3, 4, ...
    const int floor = 3 + static_cast<int>(descriptors.size());
    std::vector<UniqueFd> copies;
    copies.push_back(HighCopy(requestTheirs.Get(), floor));
    copies.push_back(HighCopy(answerTheirs.Get(), floor));
    for (const int fd : descriptors) {
        copies.push_back(HighCopy(fd, floor));
    }
    SpawnSetup setup({path});
    for (std::size_t index = 0; index < copies.size(); ++index) {
        if (!copies[index]) {
            return std::nullopt;
        }
        const int target = index < 2 ? static_cast<int>(index) : static_cast<int>(index) + 1;
        ::posix_spawn_file_actions_adddup2(setup.Actions(), copies[index].Get(), target);
    }
    // Whatever else this process left inheritable stays behind.
    ::posix_spawn_file_actions_addclosefrom_np(setup.Actions(), floor);
    std::vector<char*> environment = HelperEnvironment();
    const pid_t pid = setup.Spawn(environment.data());
    if (pid < 0) {
        ReportUnstartable(path, errno);
        return std::nullopt;
    }
    return RunningHelper{path, std::make_unique<Child>(pid), std::move(requestOurs),
                         std::move(answerOurs)};
}

// The helper started ahead of the next call while a PreparedHelpers scope is open.
struct PreparedSlot {
    std::mutex lock;
    int scopes = 0;
    std::optional<RunningHelper> helper;
};

PreparedSlot& Prepared() {
    static PreparedSlot slot;
    return slot;
}

// Ends a helper that never received an operation: with its input closed it exits at once and
// silently; one still loading its libraries gets a moment, then is killed (by ~Child).
void Dismiss(std::optional<RunningHelper> helper) {
    if (!helper) {
        return;
    }
    helper->request.Reset();
    helper->answer.Reset();
    pollfd exited{helper->child->Handle(), POLLIN, 0};
    if (exited.fd >= 0) {
        (void)::poll(&exited, 1, 200);
    }
    helper->child->Reap(false);
}

// Starts the next helper ahead of time when a scope asks for one and none is ready.
void PrepareNext() {
    PreparedSlot& slot = Prepared();
    const std::lock_guard guard(slot.lock);
    if (slot.scopes == 0 || slot.helper || NetworkExchangesStopped()) {
        return;
    }
    const std::string path = HelperPath();
    if (!path.empty() && path[0] == '/' && Executable(path)) {
        slot.helper = StartHelper(path, {});
    }
}

// The prepared helper when it suits this call (no descriptors to hand over, the same program).
std::optional<RunningHelper> TakePrepared(const HelperCall& call, const std::string& path) {
    std::optional<RunningHelper> taken;
    {
        PreparedSlot& slot = Prepared();
        const std::lock_guard guard(slot.lock);
        if (!slot.helper || !call.descriptors.empty()) {
            return std::nullopt;
        }
        taken.swap(slot.helper);
    }
    // One that died while it waited (killed, out of memory) never saw a request: the call
    // starts a helper of its own instead of failing.
    pollfd exited{taken->child->Handle(), POLLIN, 0};
    if (taken->path != path || (exited.fd >= 0 && ::poll(&exited, 1, 0) > 0)) {
        Dismiss(std::move(taken));
        return std::nullopt;
    }
    return taken;
}

}  // namespace

std::string HelperPath() {
    if (const char* configured = std::getenv("QUARNEL_HELPER");
        configured != nullptr && *configured != '\0') {
        return configured;
    }
    const std::string program = GetProgramPath();
    const std::size_t slash = program.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    const std::string folder = program.substr(0, slash);
    const std::string beside = folder + "/" + kHelperName;
    if (Executable(beside)) {
        return beside;
    }
    return folder + "/../libexec/quarnel-updater/" + kHelperName;
}

PreparedHelpers::PreparedHelpers() {
    {
        PreparedSlot& slot = Prepared();
        const std::lock_guard guard(slot.lock);
        ++slot.scopes;
    }
    PrepareNext();
}

PreparedHelpers::~PreparedHelpers() {
    std::optional<RunningHelper> left;
    {
        PreparedSlot& slot = Prepared();
        const std::lock_guard guard(slot.lock);
        if (--slot.scopes == 0) {
            left.swap(slot.helper);
        }
    }
    Dismiss(std::move(left));
}

std::optional<std::string> CallHelper(const HelperCall& call, const HelperProgress& onProgress) {
    if (call.stoppable && NetworkExchangesStopped()) {
        return std::nullopt;
    }
    const std::string path = HelperPath();
    if (path.empty() || path[0] != '/' || !Executable(path)) {
        ReportUnstartable(path, path.empty() || path[0] != '/' ? EINVAL : errno);
        return std::nullopt;
    }
    std::optional<RunningHelper> running = TakePrepared(call, path);
    if (!running) {
        running = StartHelper(path, call.descriptors);
        if (!running) {
            return std::nullopt;
        }
    }
    // The next call's helper loads its libraries while this one works.
    PrepareNext();
    Child& child = *running->child;
    UniqueFd& requestOurs = running->request;
    UniqueFd& answerOurs = running->answer;

    std::string input(1, static_cast<char>(call.operation));
    input.append(call.request);
    std::size_t sent = 0;
    FrameReader reader(call.answerLimit, onProgress);
    const int stop = call.stoppable ? DescriptorOf(NetworkStopHandle()) : -1;
    const auto deadline = std::chrono::steady_clock::now() + call.deadline;

    // Until the answer pipe closes: send the request, read frames, watch stop and deadline.
    bool answerOpen = true;
    while (answerOpen) {
        const int left = RemainingMilliseconds(deadline);
        if (left == 0 || (call.stoppable && NetworkExchangesStopped())) {
            return std::nullopt;
        }
        pollfd watched[3];
        nfds_t count = 0;
        watched[count++] = {answerOurs.Get(), POLLIN, 0};
        const bool sending = requestOurs.Valid();
        if (sending) {
            watched[count++] = {requestOurs.Get(), POLLOUT, 0};
        }
        if (stop >= 0) {
            watched[count++] = {stop, POLLIN, 0};
        }
        // Without a stop descriptor, look at the stop flag at least once a second.
        const int slice = stop >= 0 || !call.stoppable ? left : (left < 1000 ? left : 1000);
        if (::poll(watched, count, slice) < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (sending && (watched[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t wrote = ::send(requestOurs.Get(), input.data() + sent,
                                         input.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (wrote > 0) {
                sent += static_cast<std::size_t>(wrote);
            }
            // All sent (the helper sees the end of its input) or the helper stopped reading.
            if (sent == input.size() || (wrote < 0 && errno != EAGAIN && errno != EINTR)) {
                requestOurs.Reset();
            }
        }
        if ((watched[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            char buffer[16384];
            while (true) {
                const ssize_t got = ::read(answerOurs.Get(), buffer, sizeof buffer);
                if (got > 0) {
                    if (!reader.Take(buffer, static_cast<std::size_t>(got))) {
                        return std::nullopt;
                    }
                    continue;
                }
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                answerOpen = got < 0 && errno == EAGAIN;
                break;
            }
        }
    }
    // The output ended: the helper is about to exit; its status decides.
    while (!child.Reap(false)) {
        const int left = RemainingMilliseconds(deadline);
        if (left == 0 || (call.stoppable && NetworkExchangesStopped())) {
            return std::nullopt;
        }
        pollfd watched[2] = {{child.Handle(), POLLIN, 0}, {stop, POLLIN, 0}};
        const int slice = child.Handle() >= 0 ? left : (left < 20 ? left : 20);
        (void)::poll(child.Handle() >= 0 ? watched : watched + 1,
                     (child.Handle() >= 0 ? 1 : 0) + (stop >= 0 ? 1 : 0), slice);
    }
    if (!child.Succeeded() || sent != input.size()) {
        return std::nullopt;
    }
    return reader.Answer();
}

}  // namespace quarnel
