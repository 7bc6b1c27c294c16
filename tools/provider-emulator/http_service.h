#pragma once

// What the service ports answer: the dyndns2 update at "/nic/update", the IP-echo page at "/",
// "not found" elsewhere; each possibly changed by a queued fault. Every request is logged first.

#include <httplib.h>

#include <string>

#include "tools/provider-emulator/emulator_state.h"
#include "tools/provider-emulator/request_log.h"

namespace emulator {

// Installs the handling on a server; `label` names the server in the request log ("http",
// "https", "https-other-name", "https-expired").
void InstallServiceHandler(httplib::Server& server, const std::string& label, EmulatorState& state,
                           RequestLog& log);

}  // namespace emulator
