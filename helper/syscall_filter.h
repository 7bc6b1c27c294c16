#pragma once

// The helper's system-call filter (seccomp, through libseccomp): any call outside the profile
// kills the process. The compute profile is what glibc and OpenSSL need to work on memory and
// on the files handed over; the network profile adds what a TLS client and a DNS query need on
// top (TCP and UDP sockets of both internet families, routing netlink for the resolver, threads
// for the threaded resolver; local sockets are refused). Both refuse the ioctl requests that
// inject input into a terminal (TIOCSTI, TIOCLINUX).

namespace quarnel {

enum class FilterProfile { Compute, Network };

bool InstallSyscallFilter(FilterProfile profile);

}  // namespace quarnel
