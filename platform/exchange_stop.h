#pragma once

// The process-wide stop of network exchanges. The service requests it when it stops: every HTTP
// exchange and DNS query in progress then ends within about a second, whatever the other side
// does, and new ones fail at once. Nothing else in the process needs the network after that.

namespace quarnel {

void StopNetworkExchanges();
// Lets exchanges run again (a service started anew in the same process, tests).
void AllowNetworkExchanges();
bool NetworkExchangesStopped();
// A descriptor that polls readable while exchanges are stopped, for waits that poll sockets; -1
// when it could not be made (waits then rely on their own time-outs).
int NetworkStopDescriptor();

}  // namespace quarnel
