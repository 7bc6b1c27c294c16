#pragma once

// A provider's answer: its return code, the address it names, and the message shown for it.

#include <string>
#include <string_view>

namespace quarnel {

struct UpdateResult {
    std::string code;     // the first blank-separated field, lower-cased
    std::string address;  // the second field; the current address unless that is an address
    // The IPv6 address of a dual answer, whose second field is an IPv4 and an IPv6 address joined
    // by "," ("good 203.0.113.5,2001:db8::5"); address is then the IPv4 one. Else empty.
    std::string address6;
};

// Splits the answer's first line at blanks; later lines (one per further host name) are ignored.
UpdateResult SplitUpdateResult(std::string_view answer, std::string_view currentAddress);
// The address, or both of a dual answer ("203.0.113.5, 2001:db8::5"), for a message's "%1".
std::string ResultAddresses(const UpdateResult& result);

// Whether a provider may answer with this (lower-cased) return code: the codes of the dyndns2
// protocol, not the program's own "!unknown", "!empty", "!noauth" and "!noanswer".
bool IsProviderReturnCode(std::string_view code);

// The localized message for a return code ("good", "nochg", "dnserr", "911", "abuse", "nohost",
// "notfqdn", "numhost", "badauth", "badagent", "!yours", "!donator", "!unknown", "!empty",
// "!noauth", "!noanswer"; compared exactly, so pass the lower-cased code) with "%1" filled from
// insertion; the empty text for any other code.
std::string GetResultMessage(std::string_view code, std::string_view insertion);

}  // namespace quarnel
