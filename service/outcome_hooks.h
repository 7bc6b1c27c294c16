#pragma once

// The administrator's hooks: after every recorded outcome each program of the hooks folder runs,
// one after the other in name order (platform/hook_process.h says which may run and how), and
// learns of the outcome from its environment alone:
//
//   QUARNEL_EVENT     update (good), nochg, error (a refusal, a try-later, no user name) or
//                     outage (no verdict of the provider came back)
//   QUARNEL_CODE      the provider's return code (or !noauth); empty for an outage
//   QUARNEL_ADDRESS   the address the provider named, else the one the update was made for
//   QUARNEL_ADDRESS6  the IPv6 address the request carried (or the provider named); empty when
//                     it carried none
//   QUARNEL_HOSTNAME  the host name setting
//   QUARNEL_PROVIDER  the provider's name
//   QUARNEL_MESSAGE   what the outcome means, in the service's language
//
// Control characters in any value are written as \xNN (and a backslash doubled), as /status
// prints them.
//
// They run on a thread of their own, so neither the cycle nor the stop waits for them: a stop
// kills the hook that runs and drops the ones that wait. A hook runs for at most 10 seconds, and
// never twice at a time. A hook that fails, is killed or is refused is logged (with its output,
// cut) and on standard error (the journal), and changes nothing.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ddns/last_attempt.h"
#include "platform/wait.h"
#include "service/condition_notice.h"

namespace quarnel {

struct HookEvent {
    std::string event;
    std::string code;
    std::string address;
    std::string address6;
    std::string hostname;
    std::string provider;
    std::string message;
};

HookEvent HookEventOf(const LastAttempt& attempt, std::string hostname, std::string provider);

// The QUARNEL_* variables of an event, "NAME=value" each.
std::vector<std::string> HookEnvironment(const HookEvent& event);

struct OutcomeHookOptions {
    std::string folder;
    // The account the hooks run as (the HookUser setting); empty for the program's system user.
    std::function<std::string()> userName;
    std::int64_t timeLimitMs = 10000;
    // Where a refused or failed hook is told besides the debug log; may be empty.
    NoticeWriter notice;
};

class OutcomeHooks {
  public:
    explicit OutcomeHooks(OutcomeHookOptions options);
    // Kills the hook that runs, drops the events that wait and joins the thread, without delay.
    ~OutcomeHooks();
    OutcomeHooks(const OutcomeHooks&) = delete;
    OutcomeHooks& operator=(const OutcomeHooks&) = delete;

    // Queues the event for the hooks and returns at once.
    void Notify(HookEvent event);

  private:
    void Run();
    void RunHooks(const HookEvent& event);
    void Warn(const std::string& text) const;

    OutcomeHookOptions options_;
    WaitHandle ending_;  // set by the destructor
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<HookEvent> waiting_;
    bool quit_ = false;
    bool toldUnsupported_ = false;
    std::thread thread_;
};

}  // namespace quarnel
