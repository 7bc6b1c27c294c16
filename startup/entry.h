#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

// The start-up steps before ProcessMain: diagnostic settings from the environment, the log lock
// and level names, the network facilities, the instance channel name.
void InitializeProcess();

// Runs the whole process life: start-up, ProcessMain, and the exit code it gives.
std::int64_t RunProcess(const std::vector<std::string>& arguments);

}  // namespace quarnel
