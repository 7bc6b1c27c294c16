#include "platform/helper_call.h"

namespace quarnel {

// Windows runs its transfers and cryptography in the process (WinHTTP, CNG): there is no helper
// to start ahead of a cycle's exchanges, so a scope of prepared helpers has nothing to do.
PreparedHelpers::PreparedHelpers() = default;
PreparedHelpers::~PreparedHelpers() = default;

}  // namespace quarnel
