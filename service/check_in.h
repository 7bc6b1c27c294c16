#pragma once

#include <cstdint>
#include <functional>

#include "platform/wait.h"

namespace quarnel {

// Sends the periodic identified request to the maker's web site: the first when the service
// starts, then every 12 to 24 hours, until stop is set. randomSeconds(N) draws 0 to N.
void CheckInThread(const WaitHandle& stop, const std::function<std::int64_t(std::int64_t)>& random);

}  // namespace quarnel
