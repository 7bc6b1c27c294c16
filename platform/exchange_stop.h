#pragma once

// The process-wide stop of network exchanges. The service requests it when it stops: every HTTP
// exchange and DNS query in progress then ends within about a second, whatever the other side
// does, and new ones fail at once. Nothing else in the process needs the network after that.

#include "platform/native_handle.h"

namespace quarnel {

void StopNetworkExchanges();
// Lets exchanges run again (a service started anew in the same process, tests).
void AllowNetworkExchanges();
bool NetworkExchangesStopped();
// An object that is signalled while exchanges are stopped (a descriptor that polls readable, a
// manual-reset event), for waits on sockets; kNoNativeHandle when it could not be made (waits
// then rely on their own time-outs).
NativeHandle NetworkStopHandle();

}  // namespace quarnel
