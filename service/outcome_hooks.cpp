#include "service/outcome_hooks.h"

#include <utility>

#include "diagnostics/log.h"
#include "platform/hook_process.h"
#include "platform/text.h"
#include "platform/visible_text.h"

namespace quarnel {
namespace {

constexpr const char* kProcedure = "ThreadOutcomeHooks";
// Outcomes come minutes apart; this many waiting means the hooks keep running into their limit.
constexpr std::size_t kWaitingLimit = 16;

// The values come from the provider's answer as much as from the settings: with their control
// characters shown as \xNN (and a zero byte, which an environment entry cannot hold), a hook
// that writes one to a log or a file of lines gets exactly one line of printable text.
std::string Variable(const char* name, const std::string& value) {
    return std::string(name) + "=" + VisibleText(value);
}

void LogOutput(const HookProgram& program, const HookRunResult& run) {
    for (const std::string& line : SplitText(run.output, '\n')) {
        if (!line.empty()) {
            QLOG(kLogInfo, kProcedure, program.name + ": " + VisibleText(line));
        }
    }
    if (run.outputCut) {
        QLOG(kLogInfo, kProcedure,
             program.name + ": (output cut after " + std::to_string(kHookOutputLimit) + " bytes)");
    }
}

// What became of a run that did not succeed; empty when it did.
std::string Failure(const HookRunResult& run, std::int64_t timeLimitMs) {
    if (!run.started) {
        return "did not start: " + run.failure;
    }
    if (run.stopped) {
        return {};
    }
    if (!run.finished) {
        return "ran longer than " + std::to_string(timeLimitMs / 1000) + " seconds and was killed";
    }
    if (run.signal != 0) {
        return "was ended by signal " + std::to_string(run.signal);
    }
    if (run.exitCode != 0) {
        return "failed with exit code " + std::to_string(run.exitCode);
    }
    return {};
}

}  // namespace

HookEvent HookEventOf(const LastAttempt& attempt, std::string hostname, std::string provider) {
    HookEvent event;
    switch (attempt.outcome) {
        case AttemptOutcome::Accepted:
            event.event = attempt.code == "nochg" ? "nochg" : "update";
            break;
        case AttemptOutcome::Outage:
            event.event = "outage";
            break;
        default:
            event.event = "error";
            break;
    }
    // An outage brought no return code of the protocol, whatever its first word was.
    if (attempt.outcome != AttemptOutcome::Outage) {
        event.code = attempt.code;
    }
    event.address = attempt.address;
    event.hostname = std::move(hostname);
    event.provider = std::move(provider);
    event.message = attempt.message;
    return event;
}

std::vector<std::string> HookEnvironment(const HookEvent& event) {
    return {
        Variable("QUARNEL_EVENT", event.event),       Variable("QUARNEL_CODE", event.code),
        Variable("QUARNEL_ADDRESS", event.address),   Variable("QUARNEL_ADDRESS6", event.address6),
        Variable("QUARNEL_HOSTNAME", event.hostname), Variable("QUARNEL_PROVIDER", event.provider),
        Variable("QUARNEL_MESSAGE", event.message)};
}

OutcomeHooks::OutcomeHooks(OutcomeHookOptions options)
    : options_(std::move(options)), ending_(CreateManualEventHandle()) {}

OutcomeHooks::~OutcomeHooks() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        waiting_.clear();
    }
    if (ending_) {
        SetEventHandle(ending_);
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void OutcomeHooks::Notify(HookEvent event) {
    std::lock_guard<std::mutex> guard(lock_);
    if (quit_) {
        return;
    }
    if (waiting_.size() >= kWaitingLimit) {
        QLOG(kLogWarn, kProcedure, "The hooks fall behind: the oldest waiting outcome is dropped");
        waiting_.pop_front();
    }
    waiting_.push_back(std::move(event));
    // The thread starts with the first outcome: an idle service without one has none.
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
    changed_.notify_one();
}

void OutcomeHooks::Run() {
    while (true) {
        HookEvent event;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return quit_ || !waiting_.empty(); });
            if (quit_) {
                return;
            }
            event = std::move(waiting_.front());
            waiting_.pop_front();
        }
        RunHooks(event);
    }
}

void OutcomeHooks::Warn(const std::string& text) const {
    QLOG(kLogWarn, kProcedure, text);
    if (options_.notice) {
        options_.notice(kNoticeWarning, text);
    }
}

void OutcomeHooks::RunHooks(const HookEvent& event) {
    const std::string unsupported = HooksUnsupported();
    if (!unsupported.empty()) {
        if (!toldUnsupported_) {
            QLOG(kLogInfo, kProcedure, unsupported);
            toldUnsupported_ = true;
        }
        return;
    }
    const std::vector<HookProgram> programs = FindHookPrograms(options_.folder);
    if (programs.empty()) {
        return;
    }
    const std::string user = options_.userName ? options_.userName() : std::string();
    const std::vector<std::string> environment = HookEnvironment(event);
    for (const HookProgram& program : programs) {
        if (ending_ && IsEventHandleSet(ending_)) {
            return;
        }
        if (!program.refusal.empty()) {
            Warn("Hook " + program.path + " skipped: " + program.refusal);
            continue;
        }
        QLOG(kLogInfo, kProcedure, "Running hook " + program.path + " (" + event.event + ")");
        const HookRunResult run =
            RunHookProgram(program.path, environment, user, options_.timeLimitMs, ending_);
        LogOutput(program, run);
        const std::string failure = Failure(run, options_.timeLimitMs);
        if (!failure.empty()) {
            Warn("Hook " + program.path + " " + failure);
        } else {
            QLOG(kLogDebug, kProcedure,
                 "Hook " + program.path + (run.stopped ? " was ended by the stop" : " ended"));
        }
    }
}

}  // namespace quarnel
