#include "service/dual_stack.h"

#include <optional>

#include "ddns/ip_address.h"
#include "ddns/provider_update.h"
#include "diagnostics/log.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr const char* kProcedure = "ThreadServiceMain";
constexpr RegistryHive kHive = RegistryHive::LocalMachine;

}  // namespace

IPv6Step LearnIPv6Step(std::int64_t provider, UpdateCycleMemory& memory,
                       const UpdateCycleEnvironment& environment) {
    IPv6Step step;
    if (ReadRegistryDword(kHive, kSettingsKey, kValueIPv6) == 0 || !environment.getIPv6Address) {
        return step;
    }
    if (!ProviderTakesIPv6(provider)) {
        QLOG(kLogTrace, kProcedure, "The provider takes IPv4 addresses only, IPv6 is not sent");
        return step;
    }
    step.wanted = true;
    // The store's, unless it could not take the last request's outcome.
    step.previous = memory.unsaved && memory.unsaved->sent
                        ? memory.unsaved->ip6
                        : ReadRegistryString(kHive, kServiceKey, kValueIp6);
    const std::string learnt = environment.getIPv6Address();
    // Whatever the source, only a canonical global address is ever published.
    const std::optional<IPv6Bytes> bytes = ParseIPv6Address(learnt);
    if (IsValidIPv6Address(learnt) && IsGlobalUnicastIPv6(*bytes)) {
        step.current = learnt;
        memory.toldNoIPv6 = false;
    } else if (!memory.toldNoIPv6) {
        QLOG(kLogInfo, kProcedure, "No IPv6 address found, the IPv4 address is sent alone");
        memory.toldNoIPv6 = true;
    }
    QLOG(kLogTrace, kProcedure, "CurrentIPv6 = " + step.current);
    QLOG(kLogTrace, kProcedure, "PreviousIPv6 = " + step.previous);
    if (IPv6Changed(step)) {
        QLOG(kLogInfo, kProcedure, "Current IPv6 does not equal previous IPv6");
    }
    return step;
}

bool IPv6Changed(const IPv6Step& step) {
    return step.wanted && !step.current.empty() && step.current != step.previous;
}

std::string RequestAddresses(const std::string& currentIP, const IPv6Step& step) {
    return step.current.empty() ? currentIP : currentIP + "," + step.current;
}

std::string RecordedIPv6(const IPv6Step& step, const UpdateResult& answer) {
    if (step.current.empty()) {
        return {};
    }
    return answer.address6.empty() ? step.current : answer.address6;
}

int StoreIPv6Value(const std::string& ip6) {
    if (!ip6.empty()) {
        return WriteRegistryString(kHive, kServiceKey, kValueIp6, ip6);
    }
    if (ReadRegistryString(kHive, kServiceKey, kValueIp6).empty()) {
        return 1;
    }
    return DeleteRegistryValue(kHive, kServiceKey, kValueIp6);
}

}  // namespace quarnel
