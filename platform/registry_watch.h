#pragma once

// Change notification on a key of the registry store.

#include <cstdint>
#include <string_view>

#include "platform/registry_store.h"
#include "platform/wait.h"

namespace quarnel::registry_store {

// A handle that fires when, below the key, a value is written or deleted or a subkey is created
// or deleted; with subtree the same holds for every key below it, including keys created after
// the watch started. The store's temporary files never count. Changes that happen while nobody
// waits are kept; the next wait takes them all and fires once. The handle watches for expiryMs
// milliseconds (negative: without limit); a wait after that never fires, whatever changed.
// Null when the key does not exist or cannot be watched.
WaitHandle WatchKey(RegistryHive hive, std::string_view keyPath, bool subtree,
                    std::int64_t expiryMs);

}  // namespace quarnel::registry_store
