#include "platform/helper_call.h"

namespace quarnel {

// Windows runs its transfers, DNS queries and cryptography in the process (WinHTTP, Winsock,
// CNG): there is no helper, so a cycle's helper session has none to share, and no helper call
// ever has a failure to report.
HelperSession::HelperSession() = default;
HelperSession::~HelperSession() = default;

void SetHelperReporter(HelperReporter /*reporter*/) {}

}  // namespace quarnel
