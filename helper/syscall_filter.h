#pragma once

// The helper's system-call filter (seccomp, through libseccomp): any call outside the profile
// kills the process. The compute profile is what glibc and OpenSSL need to work on memory and
// on the files handed over; the network profile adds what a TLS client needs on top (sockets of
// the internet, local and netlink families for the resolver, threads for the threaded resolver).

namespace quarnel {

enum class FilterProfile { Compute, Network };

bool InstallSyscallFilter(FilterProfile profile);

}  // namespace quarnel
