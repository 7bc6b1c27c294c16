#pragma once

// The running system's name and version, as the user agent names them.

#include <string>

namespace quarnel {

// "Linux; Linux" or "Windows; Windows NT".
const char* SystemNameToken();
// The version text whose first two numbers the user agent carries: the kernel release on Linux
// ("6.1.0-18-amd64"), "<major>.<minor>" of GetVersion on Windows; empty when unknown.
std::string SystemRelease();

}  // namespace quarnel
