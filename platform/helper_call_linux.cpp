#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// What a helper says of itself (a failure's reason, a notice) is shown to the log up to here.
constexpr std::size_t kHelperTextShown = 200;

std::atomic<HelperReporter> reporter{nullptr};

void Report(HelperReport kind, std::string_view message) {
    if (const HelperReporter report = reporter.load(); report != nullptr) {
        report(kind, message);
    }
}

// A helper's own words, made safe for a log line: printable ASCII only, cut short. Its text is
// untrusted, and a line break in it must not begin a line of the caller's own.
std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text.substr(0, kHelperTextShown)) {
        shown.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return shown;
}

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
    const std::string message = "The helper program " +
                                (path.empty() ? std::string("(unknown)") : path) +
                                " cannot be started (" + std::strerror(error) +
                                "): network transfers and cryptography give no answer.";
    Report(HelperReport::Failure, message);
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) {
        WriteSystemLog(ServiceName, SystemLogPriority::Error, message);
    }
}

// A duplicate above every number the child's descriptors are moved to, so moving one never
// overwrites another that is still to be moved.
UniqueFd HighCopy(int fd, int floor) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, floor));
}

std::string SignalName(int signal) {
    const char* name = ::sigabbrev_np(signal);
    return name != nullptr ? std::string("SIG") + name : std::to_string(signal);
}

class Child {
  public:
    explicit Child(pid_t pid)
        : pid_(pid), handle_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Never leaves a zombie: a child not yet reaped is killed and reaped.
    ~Child() { Kill(); }
    int Handle() const { return handle_.Get(); }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap(true);
        }
    }
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
    // Whether it has ended (without reaping it).
    bool Ended() const {
        pollfd exited{handle_.Get(), POLLIN, 0};
        return exited.fd >= 0 && ::poll(&exited, 1, 0) > 0;
    }
    bool Succeeded() const {
        return reapedCleanly_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
    }
    // How it ended, for the log.
    std::string Ending() const {
        if (!reapedCleanly_) {
            return "ended unseen";
        }
        if (WIFSIGNALED(status_)) {
            const int signal = WTERMSIG(status_);
            return "was killed by " + SignalName(signal) +
                   (signal == SIGSYS ? " (its system-call filter)" : "");
        }
        return "exited with status " + std::to_string(WEXITSTATUS(status_));
    }

  private:
    pid_t pid_;
    UniqueFd handle_;
    int status_ = 0;
    bool reapedCleanly_ = false;
};

// Reads the helper's frames for one operation as they arrive.
class FrameReader {
  public:
    FrameReader(std::size_t answerLimit, const HelperProgress& onProgress)
        : answerLimit_(answerLimit), onProgress_(onProgress) {}

    // False once the bytes cannot be frames of a well-behaved helper (why() says how).
    bool Take(const char* data, std::size_t size) {
        pending_.append(data, size);
        while (pending_.size() >= kHelperFrameHeadSize) {
            if (answer_ || failure_) {
                why_ = "it wrote after its answer";
                return false;
            }
            const HelperFrameHead head = ReadHelperFrameHead(pending_);
            const bool answer = head.kind == kHelperAnswerFrame;
            if (!answer && head.kind != kHelperProgressFrame && head.kind != kHelperNoticeFrame &&
                head.kind != kHelperFailureFrame) {
                why_ = "its output is malformed";
                return false;
            }
            if (head.length > (answer ? answerLimit_ : kHelperProgressLimit)) {
                why_ = answer ? "its answer is over the limit of " + std::to_string(answerLimit_) +
                                    " bytes"
                              : "its output is malformed";
                return false;
            }
            if (pending_.size() < kHelperFrameHeadSize + head.length) {
                return true;
            }
            std::string payload = pending_.substr(kHelperFrameHeadSize, head.length);
            pending_.erase(0, kHelperFrameHeadSize + head.length);
            if (answer) {
                answer_ = std::move(payload);
            } else if (head.kind == kHelperFailureFrame) {
                failure_ = Shown(payload);
            } else if (head.kind == kHelperNoticeFrame) {
                Notice(payload);
            } else if (onProgress_) {
                onProgress_(payload);
            }
        }
        return true;
    }
    bool HasAnswer() const { return answer_.has_value(); }
    bool Whole() const { return pending_.empty(); }
    std::optional<std::string>& Answer() { return answer_; }
    const std::optional<std::string>& Failure() const { return failure_; }
    const std::string& Why() const { return why_; }

  private:
    // A helper's notice is said once per process.
    static void Notice(const std::string& text) {
        static std::mutex lock;
        static std::set<std::string> said;
        const std::string shown = Shown(text);
        {
            const std::lock_guard guard(lock);
            if (!said.insert(shown).second) {
                return;
            }
        }
        Report(HelperReport::Notice, shown);
    }

    std::size_t answerLimit_;
    const HelperProgress& onProgress_;
    std::string pending_;
    std::optional<std::string> answer_;
    std::optional<std::string> failure_;
    std::string why_;
};

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A started helper: its process and this side of its request socket and answer pipe.
struct RunningHelper {
    std::string path;
    bool network = false;
    std::unique_ptr<Child> child;
    UniqueFd request;
    UniqueFd answer;
};

// Starts the helper at path with the descriptors given as its fd 3, 4, ... and sends it its
// profile; nothing when it cannot be started (reported).
std::optional<RunningHelper> StartHelper(const std::string& path, bool network,
                                         const std::vector<int>& descriptors) {
    // The request goes through a socket rather than a pipe: sending with MSG_NOSIGNAL to a
    // helper that died early fails with EPIPE instead of raising SIGPIPE in this process, and
    // the helper learns from it who its caller is.
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

    // The child's descriptors: 0 request, 1 answer, 2 /dev/null (never this process's terminal
    // or journal stream), then the caller's files as 3, 4, ...
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
    ::posix_spawn_file_actions_addopen(setup.Actions(), 2, "/dev/null", O_WRONLY, 0);
    // Whatever else this process left inheritable stays behind.
    ::posix_spawn_file_actions_addclosefrom_np(setup.Actions(), floor);
    // A session of its own: no controlling terminal to type into, no signals of this one's.
    setup.NewSession();
    std::vector<char*> environment = HelperEnvironment();
    const pid_t pid = setup.Spawn(environment.data());
    if (pid < 0) {
        ReportUnstartable(path, errno);
        return std::nullopt;
    }
    RunningHelper helper{path, network, std::make_unique<Child>(pid), std::move(requestOurs),
                         std::move(answerOurs)};
    // One byte always fits: the helper sets up its sandbox while this process goes on.
    const char profile = network ? kHelperProfileNetwork : kHelperProfileCompute;
    if (::send(helper.request.Get(), &profile, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
        return std::nullopt;
    }
    return helper;
}

// The path to start, or empty when it cannot be run (reported).
std::string UsablePath() {
    const std::string path = HelperPath();
    if (path.empty() || path[0] != '/' || !Executable(path)) {
        ReportUnstartable(path, path.empty() || path[0] != '/' ? EINVAL : errno);
        return {};
    }
    return path;
}

// Ends a helper that has nothing more to do: with its input closed it exits at once and
// silently; one still busy gets a moment, then is killed (by ~Child).
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

// The helper shared by one thread's calls inside its HelperSession scopes.
struct SessionSlot {
    int scopes = 0;
    std::optional<RunningHelper> helper;
};
thread_local SessionSlot session;

bool Stopped(const HelperCall& call) {
    return call.stoppable && NetworkExchangesStopped();
}

// Runs one operation on a running helper. With last, its input ends after the request and the
// helper must exit successfully once it answered; otherwise it stays for the next operation.
// Nothing on any failure (reported, except a stop); the helper must then not be used again.
std::optional<std::string> Exchange(RunningHelper& running, const HelperCall& call,
                                    const HelperProgress& onProgress, bool last) {
    Child& child = *running.child;
    const std::string input = HelperFrame(static_cast<char>(call.operation), call.request);
    std::size_t sent = 0;
    FrameReader reader(call.answerLimit, onProgress);
    const int stop = call.stoppable ? DescriptorOf(NetworkStopHandle()) : -1;
    const auto deadline = std::chrono::steady_clock::now() + call.deadline;
    const auto fail = [&](const std::string& what) -> std::optional<std::string> {
        child.Kill();
        Report(HelperReport::Failure, "The helper (operation " +
                                          std::to_string(static_cast<int>(call.operation)) + ") " +
                                          what);
        return std::nullopt;
    };
    const auto timedOut = [&] {
        return fail("gave no answer within " + std::to_string(call.deadline.count()) +
                    " ms and was ended");
    };

    // Until the answer (or, for the last operation, the end of its output): send the request,
    // read frames, watch stop and deadline.
    bool answerOpen = true;
    while (answerOpen && (last || !reader.HasAnswer())) {
        const int left = RemainingMilliseconds(deadline);
        if (Stopped(call)) {
            child.Kill();
            return std::nullopt;
        }
        if (left == 0) {
            return timedOut();
        }
        pollfd watched[3];
        nfds_t count = 0;
        watched[count++] = {running.answer.Get(), POLLIN, 0};
        const bool sending = sent < input.size();
        if (sending) {
            watched[count++] = {running.request.Get(), POLLOUT, 0};
        }
        if (stop >= 0) {
            watched[count++] = {stop, POLLIN, 0};
        }
        // Without a stop descriptor, look at the stop flag at least once a second.
        const int slice = stop >= 0 || !call.stoppable ? left : (left < 1000 ? left : 1000);
        if (::poll(watched, count, slice) < 0 && errno != EINTR) {
            return fail("could not be waited for");
        }
        if (sending && (watched[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t wrote = ::send(running.request.Get(), input.data() + sent,
                                         input.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (wrote > 0) {
                sent += static_cast<std::size_t>(wrote);
            } else if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
                sent = input.size() + 1;  // it stopped reading: what it says next decides
            }
            if (sent >= input.size() && last) {
                // The helper sees the end of its input once it has read the request.
                ::shutdown(running.request.Get(), SHUT_WR);
            }
        }
        if ((watched[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            char buffer[16384];
            while (last || !reader.HasAnswer()) {
                const ssize_t got = ::read(running.answer.Get(), buffer, sizeof buffer);
                if (got > 0) {
                    if (!reader.Take(buffer, static_cast<std::size_t>(got))) {
                        return fail(reader.Why());
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
    if (!last && reader.HasAnswer()) {
        if (!reader.Whole() || sent != input.size()) {
            return fail("its output is malformed");
        }
        return std::move(reader.Answer());
    }
    // The output ended: the helper is about to exit; its status decides.
    while (!child.Reap(false)) {
        const int left = RemainingMilliseconds(deadline);
        if (Stopped(call)) {
            child.Kill();
            return std::nullopt;
        }
        if (left == 0) {
            return timedOut();
        }
        pollfd watched[2] = {{child.Handle(), POLLIN, 0}, {stop, POLLIN, 0}};
        const int slice = child.Handle() >= 0 ? left : (left < 20 ? left : 20);
        (void)::poll(child.Handle() >= 0 ? watched : watched + 1,
                     (child.Handle() >= 0 ? 1 : 0) + (stop >= 0 ? 1 : 0), slice);
    }
    const std::string reason = reader.Failure() ? ": " + *reader.Failure() : std::string();
    if (!child.Succeeded()) {
        Report(HelperReport::Failure, "The helper (operation " +
                                          std::to_string(static_cast<int>(call.operation)) + ") " +
                                          child.Ending() + reason);
        return std::nullopt;
    }
    if (!reader.HasAnswer() || !reader.Whole() || sent != input.size()) {
        const std::string what = !reader.Whole()
                                     ? (reader.HasAnswer() ? "wrote after its answer"
                                                           : "ended its output inside a frame")
                                     : "ended without an answer";
        Report(HelperReport::Failure, "The helper (operation " +
                                          std::to_string(static_cast<int>(call.operation)) + ") " +
                                          what + reason);
        return std::nullopt;
    }
    return std::move(reader.Answer());
}

// The session's helper, started anew when there is none or the last one has ended.
RunningHelper* SessionHelper(const std::string& path) {
    if (session.helper && (session.helper->path != path || session.helper->child->Ended())) {
        // One that died while it waited (killed, out of memory) never saw this request: the
        // call goes to a fresh one instead of failing.
        Dismiss(std::move(session.helper));
        session.helper.reset();
    }
    if (!session.helper) {
        session.helper = StartHelper(path, true, {});
    }
    return session.helper ? &*session.helper : nullptr;
}

}  // namespace

void SetHelperReporter(HelperReporter report) {
    reporter.store(report);
}

void ReportHelperFailure(std::string_view message) {
    Report(HelperReport::Failure, message);
}

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

HelperSession::HelperSession() {
    if (session.scopes++ == 0 && !NetworkExchangesStopped()) {
        if (const std::string path = UsablePath(); !path.empty()) {
            session.helper = StartHelper(path, true, {});
        }
    }
}

HelperSession::~HelperSession() {
    if (--session.scopes == 0) {
        Dismiss(std::move(session.helper));
        session.helper.reset();
    }
}

std::optional<std::string> CallHelper(const HelperCall& call, const HelperProgress& onProgress) {
    if (Stopped(call)) {
        return std::nullopt;
    }
    const std::string path = UsablePath();
    if (path.empty()) {
        return std::nullopt;
    }
    if (session.scopes > 0 && call.descriptors.empty()) {
        RunningHelper* shared = SessionHelper(path);
        if (shared == nullptr) {
            return std::nullopt;
        }
        std::optional<std::string> answer = Exchange(*shared, call, onProgress, false);
        if (!answer) {
            // Killed by Exchange; the next operation starts a fresh one.
            Dismiss(std::move(session.helper));
            session.helper.reset();
        }
        return answer;
    }
    std::optional<RunningHelper> own = StartHelper(path, call.network, call.descriptors);
    if (!own) {
        return std::nullopt;
    }
    return Exchange(*own, call, onProgress, true);
}

}  // namespace quarnel
