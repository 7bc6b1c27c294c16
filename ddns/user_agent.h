#pragma once

// The default User-Agent text of the HTTP client.

#include <string>
#include <string_view>

namespace quarnel {

// "Quarnel Updater/<build> <toolchain>/<version> (Linux; Linux <major>.<minor>)" (on Windows
// "(Windows; Windows NT <major>.<minor>)"), the numbers taken from the system's release text
// ("6.1.0-18-amd64" gives "6.1"; missing numbers give 0).
std::string BuildUserAgent(std::string_view release);

// BuildUserAgent of this system's release, built on first use and kept for the process.
const std::string& DefaultUserAgent();

}  // namespace quarnel
