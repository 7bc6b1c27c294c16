// The service library driven like a service manager would: a test service registered with
// recording callbacks, the real dispatcher on a thread, controls through the control socket,
// signals and the handler, status reports caught on a stand-in for systemd's notification socket.

#include "libraries/src/service/service_library.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log.h"
#include "libraries/src/service/service_control.h"
#include "platform/paths.h"
#include "platform/service_host.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr const char* kName = "Test Service";

template <typename Predicate>
bool WaitUntil(Predicate predicate, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return predicate();
}

// Receives what the service library reports to systemd. A thread drains the socket all the time,
// as systemd does: the kernel queues only net.unix.max_dgram_qlen datagrams (10 by default), and
// a service whose reports nobody reads blocks in its next one.
class NotifyCollector {
  public:
    explicit NotifyCollector(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        // The reader takes no signal: the tests send the stop signals to the process, and only
        // the dispatcher may take them. It is made before the test blocks them, so it blocks
        // everything from its start (a new thread inherits the mask).
        sigset_t all;
        sigset_t previous;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &previous);
        reader_ = std::thread([this] { Drain(); });
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    ~NotifyCollector() {
        stopping_ = true;
        reader_.join();
        ::close(fd_);
    }
    NotifyCollector(const NotifyCollector&) = delete;
    NotifyCollector& operator=(const NotifyCollector&) = delete;

    // Every message so far; waits until one equals expected (when given).
    std::vector<std::string> Messages(const std::string& expected = "") {
        WaitUntil([&] {
            const std::lock_guard<std::mutex> guard(lock_);
            return expected.empty() ||
                   std::find(messages_.begin(), messages_.end(), expected) != messages_.end();
        });
        const std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }

  private:
    // Polls in short rounds so that the destructor's stop is seen within 50 ms.
    void Drain() {
        while (!stopping_) {
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, 50) != 1) {
                continue;
            }
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) {
                const std::lock_guard<std::mutex> guard(lock_);
                messages_.emplace_back(buffer, static_cast<std::size_t>(got));
            }
        }
    }

    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<std::string> messages_;
    std::thread reader_;
};

// The service under test: records every control and whether the service was running when it
// came; its work waits for a stop.
struct TestService {
    std::mutex lock;
    std::vector<std::uint32_t> controls;
    std::vector<bool> runningAtControl;
    std::atomic<int> handled{1};
    std::atomic<bool> mainEntered{false};
    std::thread::id mainThread;
    std::vector<std::thread::id> controlThreads;
    WaitHandle stop = CreateSemaphoreHandle(0);

    void Main(const std::string& name) {
        mainThread = std::this_thread::get_id();
        mainEntered = true;
        if (IsServiceActive(name)) {
            WaitForHandles(&stop, 1, 60000, false);
        }
    }
    int Control(const std::string& name, std::uint32_t control) {
        const std::lock_guard<std::mutex> guard(lock);
        controls.push_back(control);
        runningAtControl.push_back(IsServiceRunning(name));
        controlThreads.push_back(std::this_thread::get_id());
        if (control == ServiceControlStop || control == ServiceControlShutdown) {
            ReleaseSemaphoreHandle(stop);
        }
        return handled;
    }
    std::vector<std::uint32_t> Controls() {
        const std::lock_guard<std::mutex> guard(lock);
        return controls;
    }
    bool WaitForControl(std::uint32_t control) {
        return WaitUntil([&] {
            const auto seen = Controls();
            return std::find(seen.begin(), seen.end(), control) != seen.end();
        });
    }
};

class ServiceLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        // Only the dispatcher may take the stop signals; every thread must have them blocked.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGHUP);
        ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        globalHandles.logLevel = kLogTrace;
        globalHandles.logLockCreated = true;
        CloseLogFile();  // each case reads the one file in its own root
        CreateServiceRecordTable();
        ASSERT_TRUE(RegisterServiceRecord(
            kName, [this](const std::string& name) { service_.Main(name); },
            [this](const std::string& name, std::uint32_t control) {
                return service_.Control(name, control);
            }));
    }
    void TearDown() override {
        if (dispatcher_.joinable()) {
            ::kill(::getpid(), SIGTERM);
            WaitUntil([&] { return dispatcherDone_.load(); });
            dispatcher_.join();
        }
    }

    void StartDispatcher() {
        dispatcher_ = std::thread([this] {
            dispatcherResult_ = RunServiceDispatcher();
            dispatcherDone_ = true;
        });
        ASSERT_TRUE(WaitUntil([&] { return service_.mainEntered.load(); }));
    }
    bool DispatcherEnds() {
        const bool ended = WaitUntil([&] { return dispatcherDone_.load(); });
        if (ended) {
            dispatcher_.join();
        }
        return ended;
    }
    ServiceStatus Control(std::uint32_t control, std::uint32_t eventType = 0) {
        ServiceStatus status;
        EXPECT_TRUE(SendServiceControl(kName, control, status, eventType)) << control;
        return status;
    }
    // "Procedure: message" of the service library's log lines, all of which must be TRACE.
    std::vector<std::string> ServiceLogLines() {
        const std::string folder = DebugLogFolder();
        const auto files = test::ListFolder(folder);
        std::vector<std::string> lines;
        if (files.size() != 1) {
            ADD_FAILURE() << "expected one log file in " << folder;
            return lines;
        }
        const std::string text = test::ReadFileText(folder + "/" + files[0]);
        const std::regex line("(\\w+) +\\[service\\.cpp:(\\w+):\\d{4}\\] ([^\\r]*)\\r\\n");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
             it != std::sregex_iterator(); ++it) {
            EXPECT_EQ((*it)[1], "TRACE");
            lines.push_back((*it)[2].str() + ": " + (*it)[3].str());
        }
        return lines;
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootVariable_{"QUARNEL_ROOT", root_.Path()};
    test::ScopedEnvironment stateHome_{"XDG_STATE_HOME", "/state"};
    test::ScopedEnvironment notifyVariable_{"NOTIFY_SOCKET", root_.Path() + "/notify"};
    NotifyCollector notify_{root_.Path() + "/notify"};
    TestService service_;
    std::thread dispatcher_;
    std::atomic<bool> dispatcherDone_{false};
    std::atomic<int> dispatcherResult_{-1};
};

TEST_F(ServiceLibrary, StartsRunsAndStopsWithEveryReportAndLogLine) {
    StartDispatcher();
    struct stat socketInfo = {};
    ASSERT_EQ(::stat(ServiceControlSocketPath().c_str(), &socketInfo), 0);
    EXPECT_TRUE(S_ISSOCK(socketInfo.st_mode));
    EXPECT_EQ(socketInfo.st_mode & 0777, 0600u);
    EXPECT_TRUE(IsServiceRunning(kName));
    EXPECT_TRUE(IsServiceActive(kName));

    // The stop releases the work at once, so the service may report its end before the handler
    // reports the stop a second time; after the end nothing more is reported.
    const ServiceStatus stopping = Control(ServiceControlStop);
    EXPECT_EQ(stopping.serviceType, 0x20u);
    EXPECT_EQ(stopping.controlsAccepted, 0x47u);
    EXPECT_GE(stopping.checkPoint, 3u);
    EXPECT_TRUE(stopping.currentState == ServiceStopPending ||
                stopping.currentState == ServiceStopped);
    ASSERT_TRUE(DispatcherEnds());
    EXPECT_EQ(dispatcherResult_, 0);
    EXPECT_FALSE(IsServiceActive(kName));
    EXPECT_FALSE(IsServiceRunning(kName));
    ServiceStatus stopped;
    ASSERT_TRUE(QueryServiceRecordStatus(kName, stopped));
    EXPECT_EQ(stopped.currentState, ServiceStopped);
    EXPECT_EQ(::access(ServiceControlSocketPath().c_str(), F_OK), -1);  // removed again

    const std::string end =
        "STATUS=SERVICE_STOPPED (check point " + std::to_string(stopped.checkPoint) + ")";
    std::vector<std::string> expected = {
        "STATUS=SERVICE_START_PENDING (check point 0)",
        "READY=1\nSTATUS=SERVICE_RUNNING (check point 1)",
        "STOPPING=1\nSTATUS=SERVICE_STOP_PENDING (check point 2)",
    };
    if (stopped.checkPoint == 4) {
        expected.push_back("STOPPING=1\nSTATUS=SERVICE_STOP_PENDING (check point 3)");
    } else {
        EXPECT_EQ(stopped.checkPoint, 3u);
    }
    expected.push_back(end);
    EXPECT_EQ(notify_.Messages(end), expected);
    EXPECT_EQ(ServiceLogLines(),
              (std::vector<std::string>{
                  "ServiceCtrlMain: SERVICE_START_PENDING",
                  "ServiceCtrlMain: SERVICE_RUNNING",
                  "ServiceCtrlHandler: SERVICE_CONTROL_STOP or SERVICE_CONTROL_SHUTDOWN => "
                  "SERVICE_STOP_PENDING",
                  "ServiceCtrlMain: SERVICE_STOP_PENDING",
                  "ServiceCtrlMain: SERVICE_STOPPED",
              }));
    EXPECT_EQ(service_.Controls(), std::vector<std::uint32_t>{ServiceControlStop});
}

TEST_F(ServiceLibrary, UserControlInterrogateAndOtherPowerEventsReportTwiceAndKeepTheState) {
    StartDispatcher();
    const std::uint32_t start = Control(ServiceControlInterrogate).checkPoint;
    ServiceStatus status = Control(128);
    EXPECT_EQ(status.currentState, ServiceRunning);
    EXPECT_EQ(status.checkPoint, start + 2);
    status = Control(ServiceControlInterrogate);
    EXPECT_EQ(status.checkPoint, start + 4);
    status = Control(ServiceControlPowerEvent, 0x7);
    EXPECT_EQ(status.currentState, ServiceRunning);
    EXPECT_EQ(status.checkPoint, start + 6);
    EXPECT_EQ(service_.Controls(), (std::vector<std::uint32_t>{4, 128, 4, 13}));

    // A control the service does not handle is reported once only.
    service_.handled = 0;
    EXPECT_EQ(Control(128).checkPoint, start + 7);
}

TEST_F(ServiceLibrary, PauseAndContinueCompleteOnlyWhenHandledAndContinueRunsWithTheStateRunning) {
    StartDispatcher();
    ServiceStatus status = Control(ServiceControlPause);
    EXPECT_EQ(status.currentState, ServicePaused);
    EXPECT_TRUE(IsServicePaused(kName));
    EXPECT_TRUE(IsServiceActive(kName));
    EXPECT_FALSE(IsServiceRunning(kName));
    const std::uint32_t paused = status.checkPoint;
    EXPECT_EQ(notify_.Messages("STATUS=SERVICE_PAUSED (check point " + std::to_string(paused) + ")")
                  .end()[-2],
              "STATUS=SERVICE_PAUSE_PENDING (check point " + std::to_string(paused - 1) + ")");

    status = Control(ServiceControlPause);  // paused again: the same steps
    EXPECT_EQ(status.currentState, ServicePaused);
    EXPECT_EQ(status.checkPoint, paused + 2);

    status = Control(ServiceControlContinue);
    EXPECT_EQ(status.currentState, ServiceRunning);
    EXPECT_TRUE(IsServiceRunning(kName));
    status = Control(ServiceControlContinue);  // running already: the same steps
    EXPECT_EQ(status.currentState, ServiceRunning);
    EXPECT_EQ(status.checkPoint, paused + 6);
    {
        const std::lock_guard<std::mutex> guard(service_.lock);
        ASSERT_EQ(service_.controls, (std::vector<std::uint32_t>{2, 2, 3, 3}));
        // Work woken by a continue finds the service running, not still pending.
        EXPECT_TRUE(service_.runningAtControl[2]);
        EXPECT_FALSE(service_.runningAtControl[0]);
    }

    service_.handled = 0;
    status = Control(ServiceControlPause);
    EXPECT_EQ(status.currentState, ServicePausePending);
    EXPECT_FALSE(IsServicePaused(kName));
    status = Control(ServiceControlContinue);
    EXPECT_EQ(status.currentState, ServiceContinuePending);
    EXPECT_FALSE(IsServiceRunning(kName));
    EXPECT_TRUE(IsServiceActive(kName));
    service_.handled = 1;
    EXPECT_EQ(Control(ServiceControlContinue).currentState, ServiceRunning);

    const auto lines = ServiceLogLines();
    const auto has = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("ServiceCtrlHandler: SERVICE_CONTROL_PAUSE => SERVICE_PAUSE_PENDING"));
    EXPECT_TRUE(has("ServiceCtrlHandler: SERVICE_PAUSED"));
    EXPECT_TRUE(has("ServiceCtrlHandler: SERVICE_CONTROL_CONTINUE => SERVICE_CONTINUE_PENDING"));
    EXPECT_TRUE(has("ServiceCtrlHandler: SERVICE_RUNNING"));
}

TEST_F(ServiceLibrary, SuspendPausesAndAutomaticResumeContinues) {
    StartDispatcher();
    EXPECT_EQ(Control(ServiceControlPowerEvent, PowerEventSuspend).currentState, ServicePaused);
    EXPECT_EQ(Control(ServiceControlPowerEvent, PowerEventResumeAutomatic).currentState,
              ServiceRunning);
    // The callback sees the control as changed.
    EXPECT_EQ(service_.Controls(), (std::vector<std::uint32_t>{2, 3}));
    const auto lines = ServiceLogLines();
    const std::vector<std::string> expected = {
        "ServiceCtrlHandler: SERVICE_CONTROL_POWEREVENT",
        "ServiceCtrlHandler: PBT_APMSUSPEND",
        "ServiceCtrlHandler: SERVICE_CONTROL_PAUSE => SERVICE_PAUSE_PENDING",
        "ServiceCtrlHandler: SERVICE_PAUSED",
        "ServiceCtrlHandler: SERVICE_CONTROL_POWEREVENT",
        "ServiceCtrlHandler: PBT_APMRESUMEAUTOMATIC",
        "ServiceCtrlHandler: SERVICE_CONTROL_CONTINUE => SERVICE_CONTINUE_PENDING",
        "ServiceCtrlHandler: SERVICE_RUNNING",
    };
    ASSERT_GE(lines.size(), 2 + expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 2 + expected.size()),
              expected);
}

TEST_F(ServiceLibrary, TheSleepSignalBecomesSuspendAndResumeThroughTheHandler) {
    StartDispatcher();
    const std::vector<std::string> context = {kName};
    const ServiceHostControl sleeping = SleepSignalControl(true);
    EXPECT_EQ(sleeping.control, ServiceControlPowerEvent);
    EXPECT_EQ(sleeping.eventType, PowerEventSuspend);
    EXPECT_EQ(ServiceCtrlHandler(sleeping.control, sleeping.eventType, nullptr, context), 0u);
    EXPECT_TRUE(IsServicePaused(kName));
    const ServiceHostControl woken = SleepSignalControl(false);
    EXPECT_EQ(woken.eventType, PowerEventResumeAutomatic);
    EXPECT_EQ(ServiceCtrlHandler(woken.control, woken.eventType, nullptr, context), 0u);
    EXPECT_TRUE(IsServiceRunning(kName));
}

TEST_F(ServiceLibrary, HangupIsTheSettingsControlAndTerminateStops) {
    StartDispatcher();
    ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
    EXPECT_TRUE(service_.WaitForControl(128));
    EXPECT_TRUE(IsServiceRunning(kName));
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    EXPECT_TRUE(service_.WaitForControl(ServiceControlStop));
    ASSERT_TRUE(DispatcherEnds());
    EXPECT_EQ(dispatcherResult_, 0);
    EXPECT_FALSE(IsServiceActive(kName));
}

TEST_F(ServiceLibrary, ShutdownStopsLikeStopAndControlsRunOnTheDispatchersThread) {
    StartDispatcher();
    EXPECT_EQ(Control(ServiceControlInterrogate).currentState, ServiceRunning);
    EXPECT_GE(Control(ServiceControlShutdown).checkPoint, 5u);
    ASSERT_TRUE(DispatcherEnds());
    EXPECT_EQ(service_.Controls(), (std::vector<std::uint32_t>{4, 5}));
    const std::lock_guard<std::mutex> guard(service_.lock);
    EXPECT_EQ(service_.controlThreads[0], service_.controlThreads[1]);
    EXPECT_NE(service_.controlThreads[0], service_.mainThread);
    EXPECT_NE(service_.controlThreads[0], std::this_thread::get_id());
    EXPECT_NE(service_.mainThread, std::this_thread::get_id());
}

TEST_F(ServiceLibrary, InterruptStopsInTheForegroundWithoutAServiceManager) {
    const test::ScopedEnvironment foreground("NOTIFY_SOCKET", std::nullopt);
    StartDispatcher();
    EXPECT_TRUE(IsServiceRunning(kName));
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    ASSERT_TRUE(DispatcherEnds());
    EXPECT_EQ(service_.Controls(), std::vector<std::uint32_t>{ServiceControlStop});
    EXPECT_TRUE(notify_.Messages().empty());
}

TEST_F(ServiceLibrary, UnknownNamesAreNeitherActiveNorControlled) {
    EXPECT_FALSE(IsServiceActive("Unknown"));
    EXPECT_FALSE(IsServicePaused("Unknown"));
    EXPECT_FALSE(IsServiceRunning("Unknown"));
    ServiceStatus status;
    EXPECT_FALSE(QueryServiceRecordStatus("Unknown", status));
    EXPECT_EQ(ServiceCtrlHandler(ServiceControlStop, 0, nullptr, {"Unknown"}), 0u);
    EXPECT_EQ(ServiceCtrlHandler(ServiceControlStop, 0, nullptr, {}), 0u);
    EXPECT_FALSE(SendServiceControl(kName, ServiceControlInterrogate, status));  // none runs

    StartDispatcher();
    EXPECT_FALSE(SendServiceControl("Unknown", ServiceControlStop, status));
    EXPECT_FALSE(SendServiceControl("", ServiceControlStop, status));
    EXPECT_FALSE(SendServiceControl("Test\nService", ServiceControlStop, status));
    EXPECT_TRUE(IsServiceRunning(kName));
    EXPECT_TRUE(service_.Controls().empty());

    RemoveServiceRecord("Unknown");  // nothing to remove: no effect
    EXPECT_TRUE(IsServiceRunning(kName));
}

// Sends raw bytes to the control socket and returns the reply ("" when the connection closed).
std::string RawRequest(const std::string& request) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, ServiceControlSocketPath().c_str(), sizeof address.sun_path - 1);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0) {
        char buffer[256];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            reply.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

TEST_F(ServiceLibrary, TheControlSocketAnswersOneLineAndRefusesMalformedRequests) {
    StartDispatcher();
    const std::regex delivered("1 32 4 71 0 0 \\d+ 0\n");
    EXPECT_TRUE(std::regex_match(RawRequest("4 0 Test Service\n"), delivered));
    EXPECT_TRUE(std::regex_match(RawRequest("4 0 Test Service\r\n"), delivered));
    EXPECT_TRUE(std::regex_match(RawRequest("4 0\n"), delivered));  // every service
    EXPECT_EQ(RawRequest("abc\n"), "0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(RawRequest("4  0 Test Service\n"), "0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(RawRequest("4294967296 0 Test Service\n"), "0 0 0 0 0 0 0 0\n");
    EXPECT_TRUE(std::regex_match(RawRequest("4 0 Other\n"), std::regex("0 0 0 0 0 0 0 0\n")));
    EXPECT_EQ(RawRequest(std::string(2000, '1')), "0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(service_.Controls(), (std::vector<std::uint32_t>{4, 4, 4}));

    // A client that never sends its request holds the dispatcher only briefly.
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, ServiceControlSocketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(Control(128).currentState, ServiceRunning);
    ::close(silent);
}

TEST_F(ServiceLibrary, AStaleSocketIsReplacedAndALiveOneIsLeftToItsOwner) {
    ASSERT_TRUE(CreateFolders(RuntimeFolder(), 0755));
    {
        // What a killed service process leaves behind: a socket file nobody listens on.
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, ServiceControlSocketPath().c_str(),
                     sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
    }
    StartDispatcher();
    EXPECT_EQ(Control(ServiceControlInterrogate).currentState, ServiceRunning);
    {
        ServiceHostControls second;
        EXPECT_FALSE(second.ControlSocketOpen());
    }
    EXPECT_EQ(Control(ServiceControlInterrogate).currentState, ServiceRunning);
}

TEST_F(ServiceLibrary, TheControlSocketServesRootAndTheServiceUserOnly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    StartDispatcher();
    auto fromNobody = [] {
        return test::RunInForkedChild(
            [] {
                ServiceStatus status;
                return SendServiceControl(kName, 128, status) ? 1 : 0;
            },
            test::kNobodyUser);
    };
    EXPECT_EQ(fromNobody(), 0);  // the folders and the socket's mode keep other users out
    // Even with the file opened up, the peer's credentials are checked.
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(ServiceControlSocketPath().c_str(), 0666), 0);
    EXPECT_EQ(fromNobody(), 0);
    EXPECT_EQ(Control(ServiceControlInterrogate).currentState, ServiceRunning);
    EXPECT_EQ(service_.Controls(), std::vector<std::uint32_t>{ServiceControlInterrogate});
}

TEST_F(ServiceLibrary, AnUnusableNotificationSocketStartsNoWork) {
    const test::ScopedEnvironment broken("NOTIFY_SOCKET", root_.Path() + "/missing/notify");
    std::thread dispatcher([] { RunServiceDispatcher(); });
    dispatcher.join();
    EXPECT_FALSE(service_.mainEntered);
    EXPECT_TRUE(service_.Controls().empty());
}

TEST(ServiceRecords, RegisteringNeedsTheTableAndADispatcherWithoutRecordsReturnsAtOnce) {
    // The table stays for the life of a process once made, so the time before it is looked at
    // in a process of its own ("threadsafe" runs this test anew there): the other tests of this
    // binary may have made it already.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(RegisterServiceRecord("A", nullptr, nullptr) ? 1 : 0),
                ::testing::ExitedWithCode(0), "");
    CreateServiceRecordTable();
    EXPECT_EQ(RunServiceDispatcher(), 0);
    EXPECT_TRUE(RegisterServiceRecord("A", nullptr, nullptr));
    EXPECT_TRUE(RegisterServiceRecord("A", nullptr, nullptr));  // found again, not doubled
    RemoveServiceRecord("A");
    ServiceStatus status;
    EXPECT_FALSE(QueryServiceRecordStatus("A", status));
}

}  // namespace
}  // namespace quarnel
