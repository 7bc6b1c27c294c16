#pragma once

// The client identity: the security identifier text of the user who installed the program,
// recorded at installation under HKEY_CLASSES_ROOT (see settings/schema.h). The account and
// machine procedures it builds on are in platform/accounts.h.

#include <string>

#include "platform/accounts.h"

namespace quarnel {

// Records the installing user's identifier; 0 when it is unknown or a short well-known one
// (root's), or when the key cannot be created or written; then nothing is recorded.
int RecordClientIdentity();
// The recorded identity, or the empty text; never records one.
std::string GetClientIdentity();

}  // namespace quarnel
