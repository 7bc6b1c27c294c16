#pragma once

// The service process ("/service"): registers the update service with the service library and
// runs it until it is stopped.

#include <cstdint>
#include <string>

namespace quarnel {

// Returns 0; a second service process ends at once.
std::int64_t RunServiceProcess();

// The service's work: creates the semaphores, starts the worker and the check-in, waits for the
// stop, then ends and joins both before it returns.
void ServiceMainCallback(const std::string& name);
// Stop and shutdown release the stop semaphore; continue and 128 the wake semaphore. Returns 1.
int ServiceControlCallback(const std::string& name, std::uint32_t control);

}  // namespace quarnel
