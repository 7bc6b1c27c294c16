#pragma once

// Waiting for changes of a registry key.

#include <cstdint>
#include <string_view>

#include "platform/registry_store.h"
#include "platform/wait.h"

namespace quarnel {

// A handle for WaitForHandles that fires when a value of the key is written or deleted or a
// subkey is created or deleted (with watchSubtree: anywhere below the key). It watches for
// timeoutMs + 1000 ms (a negative time-out: without limit) and never fires after that. Null when
// the key does not exist or computer names a remote machine (there is no remote registry here).
// Close it with CloseWaitHandle.
WaitHandle RegistryChangeEvent(RegistryHive root, std::string_view keyPath, bool watchSubtree,
                               std::string_view computer, std::int64_t timeoutMs);

// 1 when the key changed within timeoutMs (negative: without limit), else 0 (also when the key
// cannot be watched).
int WaitForRegistryChange(RegistryHive root, std::string_view keyPath, std::int64_t timeoutMs,
                          bool watchSubtree, std::string_view computer);

}  // namespace quarnel
