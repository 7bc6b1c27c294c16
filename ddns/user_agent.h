#pragma once

// The default User-Agent text of the HTTP client.

#include <string>
#include <string_view>

namespace quarnel {

// "Quarnel Updater/<build> <toolchain>/<version> (Linux; Linux <major>.<minor>)", the numbers
// taken from the kernel release text ("6.1.0-18-amd64" gives "6.1"; missing numbers give 0).
std::string BuildUserAgent(std::string_view kernelRelease);

// BuildUserAgent of this kernel's release, built on first use and kept for the process.
const std::string& DefaultUserAgent();

}  // namespace quarnel
