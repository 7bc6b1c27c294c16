#include "service/service_worker.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

#include "diagnostics/log.h"
#include "platform/clock.h"
#include "platform/global_handles.h"
#include "platform/helper_call.h"
#include "platform/process.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr const char* kProcedure = "ThreadServiceMain";

// The armed watcher thread and whether its body has finished. It ends on an event of its own,
// set when it is destroyed: when the service stops, and when the worker replaces it because
// what is to be watched changed.
class WaitingThread {
  public:
    WaitingThread(ChangeWatch watch, const ChangeSources& sources, ChangeHandles opened)
        : done_(std::make_shared<std::atomic<bool>>(false)),
          end_(CreateManualEventHandle()),
          ipv6_(opened.ipv6) {
        if (end_) {
            watch.stop = &end_;
        }
        thread_ =
            std::thread([watch, sources, done = done_, handles = std::move(opened)]() mutable {
                ThreadServiceWait(watch, sources, std::move(handles));
                done->store(true);
            });
    }
    ~WaitingThread() {
        if (end_) {
            SetEventHandle(end_);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Whether its handles watch IPv6 changes too.
    bool WatchesIPv6() const { return ipv6_; }
    // Whether it can be ended without waking the worker (else only the service's stop ends it).
    bool Replaceable() const { return static_cast<bool>(end_); }
    WaitingThread(const WaitingThread&) = delete;
    WaitingThread& operator=(const WaitingThread&) = delete;

    // Waits up to the given time for the body to finish; true when it has.
    bool WaitForEnd(std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done_->load()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

  private:
    std::shared_ptr<std::atomic<bool>> done_;
    WaitHandle end_;
    bool ipv6_ = false;
    std::thread thread_;
};

}  // namespace

int ThreadServiceMain(const ServiceWorker& worker) {
    QLOG(kLogDebug, kProcedure, "Thread started");
    const UpdateCycleLimits limits = DrawUpdateCycleLimits(worker.cycle);
    UpdateCycleMemory memory;
    if (!RegistryKeyExists(RegistryHive::LocalMachine, kServiceKey)) {
        CreateRegistryKey(RegistryHive::LocalMachine, kServiceKey);
    }

    std::unique_ptr<WaitingThread> waitingThread;
    std::int64_t nextCheck = 0;  // when the armed timer fires; 0 when none is armed
    while (worker.isActive()) {
        QLOG(kLogTrace, kProcedure, "Service running, waiting for semaphore signal");
        if (WaitForHandles(&globalHandles.wakeSemaphore, 1, kWaitInfinite, false) != 0) {
            QLOG(kLogError, kProcedure, "Waiting for the semaphore failed");
            break;
        }
        QLOG(kLogInfo, kProcedure, "Semaphore signaled, checking service state");
        if (worker.isPaused()) {
            QLOG(kLogInfo, kProcedure, "Service is paused, skipping semaphore signal");
            continue;
        }
        QLOG(kLogInfo, kProcedure, "Semaphore signaled, continuing service");
        if (!worker.isRunning()) {
            continue;
        }
        QLOG(kLogInfo, kProcedure, "Service is running, handling semaphore signal");
        const auto cycleStart = std::chrono::steady_clock::now();
        std::int64_t nextTimeout = 0;
        ChangeHandles changes;
        {
            // One helper serves the cycle's exchanges one after the other (probe, echo,
            // password, update); started now, it loads while the cycle does its local work, and
            // it ends with the cycle.
            const HelperSession helper;
            changes = OpenChangeHandles(worker.sources);
            nextTimeout = RunUpdateCycle(limits, memory, worker.cycle);
        }
        // What a cycle allocated (answers, log lines) is not needed until the next one; see
        // RunServiceProcess for what this and one arena save.
        ReleaseUnusedMemory();

        if (waitingThread && waitingThread->WatchesIPv6() != changes.ipv6 &&
            waitingThread->Replaceable()) {
            // New settings turned IPv6 on or off: the armed watcher would miss or keep watching
            // IPv6 changes until it fires, so it makes way for one with this cycle's handles.
            QLOG(kLogDebug, kProcedure, "Replacing the waiting thread: the IPv6 watch changed");
            waitingThread.reset();
        }
        if (waitingThread) {
            QLOG(kLogTrace, kProcedure, "Checking for waiting thread");
            if (waitingThread->WaitForEnd(std::chrono::milliseconds(100))) {
                QLOG(kLogTrace, kProcedure, "Waiting thread is gone");
                waitingThread.reset();
            }
        }
        QLOG(kLogTrace, kProcedure, "Checking if new waiting thread is needed");
        if (!waitingThread && nextTimeout > 0) {
            QLOG(kLogTrace, kProcedure, "Starting new waiting thread");
            ChangeWatch watch;
            watch.timeoutSeconds = nextTimeout;
            watch.releaseNotBefore = cycleStart + worker.changeSpacing;
            watch.stop = worker.stop;
            waitingThread =
                std::make_unique<WaitingThread>(watch, worker.sources, std::move(changes));
            nextCheck = UtcClockSeconds() + nextTimeout;
        } else if (!waitingThread) {
            nextCheck = 0;
        }
        // A thread still alive keeps its own timer, and so the time it fires.
        if (memory.finding != CheckFinding::None) {
            WriteCheckRecord({UtcClockSeconds(), memory.finding, nextCheck});
        }
    }
    // The stop event ends the watcher; its destructor joins it.
    waitingThread.reset();
    QLOG(kLogDebug, kProcedure, "Thread stopped");
    return 0;
}

}  // namespace quarnel
