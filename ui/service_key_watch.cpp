#include "ui/service_key_watch.h"

#include <string_view>

#include "diagnostics/log.h"
#include "settings/registry.h"
#include "settings/registry_watch.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
// Time for the service to write the rest of its values after the first one changed.
constexpr std::int64_t kSettleMilliseconds = 100;
// Without any key to watch (no store at all yet) the key is looked for this often.
constexpr std::int64_t kRetryMilliseconds = 5000;
// The keys above the state key, nearest first; the empty path is the hive itself.
constexpr std::string_view kKeysAbove[] = {kProductKey, "SOFTWARE", ""};

}  // namespace

ServiceKeyWatch::ServiceKeyWatch(const char* procedure) : procedure_(procedure) {
    Arm();
    if (onKey_) {
        QLOG(kLogTrace, procedure_, "Registry key exists");
    } else {
        QLOG(kLogDebug, procedure_, "Waiting for the service's registry key to appear");
    }
}

std::int64_t ServiceKeyWatch::RetryMilliseconds() const {
    return kRetryMilliseconds;
}

void ServiceKeyWatch::Arm() {
    // A key created after the check but before the watch above it was armed is missed by that
    // watch, so the check is repeated once the watch is in place (a few rounds at most).
    for (int round = 0; round < 3; ++round) {
        handle_.reset();
        onKey_ = RegistryKeyExists(kHive, kServiceKey) == 1;
        if (onKey_) {
            handle_ = RegistryChangeEvent(kHive, kServiceKey, false, "", kWaitInfinite);
            return;
        }
        for (const std::string_view above : kKeysAbove) {
            handle_ = RegistryChangeEvent(kHive, above, false, "", kWaitInfinite);
            if (handle_) {
                break;
            }
        }
        if (RegistryKeyExists(kHive, kServiceKey) != 1) {
            return;
        }
    }
}

bool ServiceKeyWatch::Changed(WaitEvent& stop) {
    const bool wasOnKey = onKey_;
    if (!wasOnKey) {
        if (RegistryKeyExists(kHive, kServiceKey) != 1) {
            Arm();  // something else changed above the key
            return true;
        }
        QLOG(kLogInfo, procedure_, "Registry key has appeared");
    }
    WaitEvent* const stopOnly[] = {&stop};
    if (WaitForEvents(stopOnly, 1, kSettleMilliseconds, false) == 0) {
        return false;
    }
    // A fresh watch for every change: the key may have been removed and made again meanwhile,
    // and a watch on the removed one would never fire again. What changes from now on fires the
    // new watch; what changed before is in the values the caller reads next.
    Arm();
    if (wasOnKey && !onKey_) {
        QLOG(kLogWarn, procedure_, "Registry key has been removed; waiting for it to return");
    }
    return true;
}

}  // namespace quarnel
