#pragma once

// Helpers for tests that need a network of their own: a private network namespace (with its own
// hosts file and host name, so no lookup leaves the machine), running `ip` in it, and reading
// the debug log the code under test writes.

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/trace_log.h"

namespace quarnel::test {

// Moves this process into new network, mount and host-name namespaces. The host name becomes
// hostName, and name lookups read only the hosts file, which holds hostsLines after the
// localhost entry (the file is made in this mount namespace where the machine has none). False
// with a reason when the process may not do this (it needs root).
bool EnterPrivateNetwork(const std::string& hostName, const std::string& hostsLines,
                         std::string& reason);

// Runs `ip` with the arguments and waits for it (10 s at most); true when it exited with 0.
bool RunIp(const std::vector<std::string>& arguments);

// A name unique to this process, at most 15 characters: prefix followed by the process id.
std::string UniqueName(const std::string& prefix);

// Creates a veth pair (both ends up) and gives the first end the address (with prefix).
bool AddVethPair(const std::string& name, const std::string& peer, const std::string& address);

}  // namespace quarnel::test

// Skips the current test unless it can have a network namespace of its own.
#define QUARNEL_ENTER_PRIVATE_NETWORK(hostName, hostsLines)                                   \
    do {                                                                                      \
        std::string quarnelReason;                                                            \
        if (!::quarnel::test::EnterPrivateNetwork((hostName), (hostsLines), quarnelReason)) { \
            GTEST_SKIP() << quarnelReason;                                                    \
        }                                                                                     \
    } while (0)
