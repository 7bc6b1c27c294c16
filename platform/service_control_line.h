#pragma once

// The lines of the service control socket (see service_host.h), as the two ends write and read
// them: the request "<control> <event type> <service name>" and the reply "<result> <type>
// <state> <accepted> <exit code> <service exit code> <check point> <wait hint>", decimal numbers
// of at most 32 bits. Lines are given and returned here without their line feed.

#include <string>
#include <string_view>

#include "platform/service_host.h"

namespace quarnel {

std::string FormatControlRequest(const ServiceHostControl& control);
// False for anything but the request form; a service name with a zero byte is refused.
bool ParseControlRequest(std::string_view line, ServiceHostControl& control);

std::string FormatControlReply(bool delivered, const ServiceStatus& status);
// False for anything but the reply form (result 0 or 1 and exactly seven numbers after it).
bool ParseControlReply(std::string_view line, bool& delivered, ServiceStatus& status);

}  // namespace quarnel
