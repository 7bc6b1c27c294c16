#pragma once

// The update cycle's IPv6 part: with the IPv6 setting on and a provider that takes two
// addresses, the cycle also learns the machine's public IPv6 address, counts its change as a
// reason to update, sends both in one request ("myip=<IPv4>,<IPv6>") and records the IPv6 address
// it sent in the Service key's IP6 value. With the setting off nothing here reads, asks or writes
// anything beyond what the cycle always did, except that a request drops an IP6 value left from
// a time the setting was on.

#include <cstdint>
#include <string>

#include "ddns/update_result.h"
#include "service/update_cycle.h"

namespace quarnel {

struct IPv6Step {
    bool wanted = false;   // the setting is on and the provider takes an IPv6 address
    std::string current;   // the address learnt now; empty when none was found
    std::string previous;  // the address the last recorded request carried
};

// Reads the setting and, when wanted, learns the address (logging the once-only INFO line when
// none is found).
IPv6Step LearnIPv6Step(std::int64_t provider, UpdateCycleMemory& memory,
                       const UpdateCycleEnvironment& environment);

// A found address that differs from the one last sent. An address that is no longer found is no
// change: the IPv4 address alone then goes out when something else is due.
bool IPv6Changed(const IPv6Step& step);

// What the request's myip carries: the IPv4 address, or both joined by ",".
std::string RequestAddresses(const std::string& currentIP, const IPv6Step& step);

// What IP6 records after a request the provider decided on: the IPv6 address the answer named,
// else the one sent; empty when the request carried none.
std::string RecordedIPv6(const IPv6Step& step, const UpdateResult& answer);

// Writes IP6, or removes it for the empty text (reading first, so that a store that never had it
// stays as it was); 0 when that failed.
int StoreIPv6Value(const std::string& ip6);

}  // namespace quarnel
