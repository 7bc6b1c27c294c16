#include "settings/registry_watch.h"

#include "platform/registry_watch.h"

namespace quarnel {
namespace {

// The notification outlives the caller's own wait by this much, so a wait with the same
// time-out always ends first and never sees a notification that came too late.
constexpr std::int64_t kNotificationGraceMs = 1000;

}  // namespace

WaitHandle RegistryChangeEvent(RegistryHive root, std::string_view keyPath, bool watchSubtree,
                               std::string_view computer, std::int64_t timeoutMs) {
    if (!computer.empty()) {
        return nullptr;
    }
    const std::int64_t expiry = timeoutMs < 0 ? -1 : timeoutMs + kNotificationGraceMs;
    return registry_store::WatchKey(root, keyPath, watchSubtree, expiry);
}

int WaitForRegistryChange(RegistryHive root, std::string_view keyPath, std::int64_t timeoutMs,
                          bool watchSubtree, std::string_view computer) {
    WaitHandle handle = RegistryChangeEvent(root, keyPath, watchSubtree, computer, timeoutMs);
    if (!handle) {
        return 0;
    }
    const std::uint32_t result = WaitForHandles(&handle, 1, timeoutMs, false);
    CloseWaitHandle(handle);
    return result == kWaitObject0 ? 1 : 0;
}

}  // namespace quarnel
