#include "service/service_process.h"

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "ddns/address_detection.h"
#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "ddns/last_attempt.h"
#include "ddns/provider_update.h"
#include "diagnostics/event_log.h"
#include "diagnostics/log.h"
#include "libraries/src/adapter/change_events.h"
#include "libraries/src/service/service_library.h"
#include "network/network_filter.h"
#include "platform/exchange_stop.h"
#include "platform/global_handles.h"
#include "platform/hook_process.h"
#include "platform/network_change.h"
#include "platform/process.h"
#include "platform/product.h"
#include "service/check_in.h"
#include "service/outcome_hooks.h"
#include "service/service_worker.h"
#include "settings/apply.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"

namespace quarnel {
namespace {

// Guards the two semaphores in GlobalHandles while they are made and released: the control
// callback runs on the dispatcher's thread.
std::mutex semaphoreLock;

// Set when the service could not start its work; the process then ends with a failure code, so
// that the service manager's restart rule brings it back.
std::atomic<bool> startFailed{false};

// The network configuration may not be ready yet this early in boot (or a burst of open
// descriptors may get in the way): it is probed a few times before the service gives up.
constexpr int kConfigurationProbes = 5;
constexpr std::int64_t kConfigurationProbePauseMs = 1000;

std::int64_t RandomUpTo(std::int64_t n) {
    static std::mutex lock;
    static std::mt19937_64 generator{std::random_device{}()};
    if (n <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(lock);
    return std::uniform_int_distribution<std::int64_t>(0, n)(generator);
}

void ReportOutcome(int eventType, std::uint32_t eventId, const std::string& text) {
    EventSourceHandle source = OpenEventSource(ServiceName);
    if (source) {
        ReportOutcomeEvent(source, static_cast<std::uint16_t>(eventType), 0, eventId, {text});
        CloseEventHandle(source);
    }
}

// The hooks' view of an outcome the cycle has just recorded: described as /status describes it.
HookEvent HookEventOf(const RecordedOutcome& outcome) {
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    HookEvent event =
        HookEventOf(DescribeAttempt(outcome.attemptResult, outcome.eventType, outcome.eventId,
                                    outcome.attemptTime, outcome.ip),
                    ReadRegistryString(hive, kSettingsKey, kValueHostname),
                    ProviderName(ReadRegistryDword(hive, kSettingsKey, kValueService)));
    event.address6 = outcome.ip6;
    return event;
}

OutcomeHookOptions HookOptions() {
    OutcomeHookOptions options;
    options.folder = HooksFolder();
    options.userName = [] {
        return ReadRegistryString(RegistryHive::LocalMachine, kSettingsKey, kValueHookUser);
    };
    options.notice = WriteNoticeToStandardError;
    return options;
}

// The IPv6 address is kept current (and its changes watched) only while the setting is on and the
// provider takes it; read whenever the watcher's handles are opened, before each cycle.
bool IPv6Wanted() {
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    return ReadRegistryDword(hive, kSettingsKey, kValueIPv6) != 0 &&
           ProviderTakesIPv6(ReadRegistryDword(hive, kSettingsKey, kValueService));
}

ServiceWorker MakeWorker(const std::string& name, const WaitHandle& stopping, OutcomeHooks& hooks) {
    ServiceWorker worker;
    worker.isActive = [name] { return IsServiceActive(name); };
    worker.isPaused = [name] { return IsServicePaused(name); };
    worker.isRunning = [name] { return IsServiceRunning(name); };

    UpdateCycleEnvironment& cycle = worker.cycle;
    cycle.testNetwork = [] { return TestNetwork(); };
    cycle.testConnectivity = [] { return TestConnectivity(); };
    cycle.getIPAddressHTTPS = [] { return GetIPAddressHTTPS(); };
    cycle.getIPv6Address = [] { return GetIPv6Address(); };
    cycle.sendUpdateRequest = [](const std::string& ip) { return SendUpdateRequest(ip); };
    cycle.answerStatus = [] { return LastHttpStatus(); };
    cycle.stopping = [&stopping] { return IsEventHandleSet(stopping); };
    cycle.reportEvent = ReportOutcome;
    cycle.now = [] { return CurrentTimeStamp(); };
    cycle.random = RandomUpTo;
    // Pauses between connectivity tests end early when the service stops.
    cycle.sleep = [&stopping](std::int64_t milliseconds) {
        (void)WaitForHandles(&stopping, 1, milliseconds, false);
    };
    cycle.probeHostName = GetEndpoint(Endpoint::ProbeHost);
    cycle.notice = WriteNoticeToStandardError;
    cycle.outcomeRecorded = [&hooks](const RecordedOutcome& outcome) {
        hooks.Notify(HookEventOf(outcome));
    };

    ChangeSources& sources = worker.sources;
    sources.networkConfigurationAvailable = [] { return IsNetworkConfigurationAvailable(); };
    sources.networkConfigurationChange = [] {
        return NetworkConfigurationChangeEvent(kWaitInfinite);
    };
    sources.timer = [](std::int64_t milliseconds) { return TimerEvent(milliseconds); };
    sources.addressChange = [](bool ipv6) { return AddressChangeEvent(kWaitInfinite, ipv6); };
    sources.routeChange = [](bool ipv6) { return RouteChangeEvent(kWaitInfinite, ipv6); };
    sources.watchIPv6 = IPv6Wanted;
    worker.stop = &stopping;
    return worker;
}

}  // namespace

std::int64_t RunServiceProcess() {
    if (IsInstanceRunning(ServiceInstanceGuid)) {
        return 0;
    }
    // The service runs for months with a handful of threads: one arena keeps it small. With it
    // and the release after each cycle (service_worker.cpp), service_bench measured the idle
    // service at 6.26 MB resident and 0.54 MB Private_Dirty; without both, 6.48 MB and 0.72 MB.
    UseOneAllocationArena();
    RegisterServiceRecord(ServiceName, ServiceMainCallback, ServiceControlCallback);
    RunServiceDispatcher();
    RemoveServiceRecord(ServiceName);
    return startFailed ? 1 : 0;
}

void ServiceMainCallback(const std::string& name) {
    AllowNetworkExchanges();
    {
        std::lock_guard<std::mutex> guard(semaphoreLock);
        globalHandles.wakeSemaphore = CreateSemaphoreHandle(1);
        globalHandles.stopSemaphore = CreateSemaphoreHandle(0);
        if (!globalHandles.wakeSemaphore || !globalHandles.stopSemaphore) {
            QLOG_ERROR_CODE(kLogError, "ServiceMainCallback", "Creating the semaphores failed",
                            GetLastErrorCode());
            globalHandles.wakeSemaphore.reset();
            globalHandles.stopSemaphore.reset();
            return;
        }
    }
    bool available = IsNetworkConfigurationAvailable();
    for (int probe = 1; !available && probe < kConfigurationProbes; ++probe) {
        QLOG(kLogWarn, "ServiceMainCallback",
             "Network configuration is not available, trying again");
        if (WaitForHandles(&globalHandles.stopSemaphore, 1, kConfigurationProbePauseMs, false) ==
            kWaitObject0) {
            break;  // stopped meanwhile
        }
        available = IsNetworkConfigurationAvailable();
    }
    if (!available) {
        QLOG(kLogError, "ServiceMainCallback",
             "Network configuration is not available, the service stops");
        startFailed = IsServiceActive(name);
    }
    // A stop that arrived while the semaphores were being made found nothing to release.
    if (available && IsServiceActive(name)) {
        const WaitHandle stopping = CreateManualEventHandle();
        // Destroyed after the worker has ended: it then kills a hook that still runs.
        OutcomeHooks hooks(HookOptions());
        const ServiceWorker worker = MakeWorker(name, stopping, hooks);
        std::thread main([&worker] { ThreadServiceMain(worker); });
        std::thread checkIn([&stopping] { CheckInThread(stopping, RandomUpTo); });

        WaitForHandles(&globalHandles.stopSemaphore, 1, kWaitInfinite, false);

        // End the workers before the stop is reported: the watcher and the check-in wake on the
        // stopping event, the worker on a last release of its semaphore, an exchange on the
        // network in progress on the stop of all exchanges.
        StopNetworkExchanges();
        SetEventHandle(stopping);
        ReleaseSemaphoreHandle(globalHandles.wakeSemaphore);
        main.join();
        checkIn.join();
    }
    std::lock_guard<std::mutex> guard(semaphoreLock);
    globalHandles.stopSemaphore.reset();
    globalHandles.wakeSemaphore.reset();
}

int ServiceControlCallback(const std::string& /*name*/, std::uint32_t control) {
    std::lock_guard<std::mutex> guard(semaphoreLock);
    if (control == ServiceControlStop || control == ServiceControlShutdown) {
        // At once, so that a request under way ends while the stop is still being passed on.
        StopNetworkExchanges();
        ReleaseSemaphoreHandle(globalHandles.stopSemaphore);
    } else if (control == ServiceControlContinue || control == ControlCodeSettingsChanged) {
        ReleaseSemaphoreHandle(globalHandles.wakeSemaphore);
    }
    return 1;
}

}  // namespace quarnel
