#pragma once

// What the parts of the service library share among themselves.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "libraries/src/service/service_library.h"

namespace quarnel {

// The record of that name, kept alive for the caller; null when there is none.
std::shared_ptr<ServiceRecord> FindServiceRecord(const std::string& name);
// Names of the registered records, in name order.
std::vector<std::string> RegisteredServiceNames();

// "SERVICE_RUNNING" and its companions; "SERVICE_STATE_<n>" for other values.
std::string ServiceStateName(std::uint32_t state);
// Reports the record's status to the service manager; the caller holds statusLock.
bool ReportServiceRecordStatus(const ServiceRecord& record);

// The control handler's work, telling whether the control was delivered: false for an unknown
// or unregistered service and for a control the service does not take in its state.
bool DeliverServiceControl(std::uint32_t control, std::uint32_t eventType,
                           const std::vector<std::string>& context);

}  // namespace quarnel
