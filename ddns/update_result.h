#pragma once

// A provider's answer: its return code, the address it names, and the message shown for it.

#include <string>
#include <string_view>

namespace quarnel {

struct UpdateResult {
    std::string code;     // the first blank-separated field, lower-cased
    std::string address;  // the second field; the current address unless that is an address
};

// Splits the answer's first line at blanks; later lines (one per further host name) are ignored.
UpdateResult SplitUpdateResult(std::string_view answer, std::string_view currentAddress);

// Whether a provider may answer with this (lower-cased) return code: the codes of the dyndns2
// protocol, not the program's own "!unknown", "!empty", "!noauth" and "!noanswer".
bool IsProviderReturnCode(std::string_view code);

// The localized message for a return code ("good", "nochg", "dnserr", "911", "abuse", "nohost",
// "notfqdn", "numhost", "badauth", "badagent", "!yours", "!donator", "!unknown", "!empty",
// "!noauth", "!noanswer"; compared exactly, so pass the lower-cased code) with "%1" filled from
// insertion; the empty text for any other code.
std::string GetResultMessage(std::string_view code, std::string_view insertion);

}  // namespace quarnel
