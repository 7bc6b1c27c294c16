// Provider answers: the trimmed answer, its code and address, and the message shown for the code.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ddns/ip_address.h"
#include "ddns/provider_update.h"
#include "ddns/update_result.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr std::string_view kCurrentAddress = "203.0.113.5";
constexpr std::string_view kKnownCodes[] = {
    "good",    "nochg",    "dnserr", "911",      "abuse",    "nohost", "notfqdn", "numhost",
    "badauth", "badagent", "!yours", "!donator", "!unknown", "!empty", "!noauth", "!noanswer"};

bool OnlyLineEnds(std::string_view text) {
    return text.find_first_not_of("\r\n") == std::string_view::npos;
}

// Trimming removes line ends at the two ends and nothing else.
void CheckTrimmed(std::string_view answer, const std::string& trimmed) {
    FUZZ_CHECK(trimmed.size() <= answer.size());
    FUZZ_CHECK(trimmed.empty() || (trimmed.front() != '\r' && trimmed.back() != '\r'));
    bool found = false;
    for (std::size_t at = 0; !found && at + trimmed.size() <= answer.size(); ++at) {
        if (!OnlyLineEnds(answer.substr(0, at))) {
            break;
        }
        found = answer.substr(at, trimmed.size()) == trimmed &&
                OnlyLineEnds(answer.substr(at + trimmed.size()));
    }
    FUZZ_CHECK(found);
    if (answer.find('\r') == std::string_view::npos) {
        FUZZ_CHECK(trimmed.empty() || (trimmed.front() != '\n' && trimmed.back() != '\n'));
    }
}

// The code is the lower-cased first field of the first line; the address its second field when
// that is an address, or the IPv4 address of a dual second field ("<IPv4>,<IPv6>", whose IPv6
// address is address6), else the current address.
void CheckSplit(std::string_view answer, std::string_view current, const UpdateResult& result) {
    const std::string_view line = answer.substr(0, answer.find_first_of("\r\n"));
    FUZZ_CHECK(result.code.find_first_of(" \r\n") == std::string::npos);
    FUZZ_CHECK(ToLowerAscii(result.code) == result.code);
    const std::string lowered = ToLowerAscii(line);
    FUZZ_CHECK(lowered.compare(0, result.code.size(), result.code) == 0);
    std::string_view second;
    if (result.code.size() < line.size()) {
        FUZZ_CHECK(line[result.code.size()] == ' ');
        second = line.substr(result.code.size() + 1);
        second = second.substr(0, second.find(' '));
    }
    std::string_view address = IsValidIPAddress(second) ? second : current;
    std::string_view address6;
    if (const std::size_t comma = second.find(','); comma != std::string_view::npos &&
                                                    IsValidIPAddress(second.substr(0, comma)) &&
                                                    IsValidIPv6Address(second.substr(comma + 1))) {
        address = second.substr(0, comma);
        address6 = second.substr(comma + 1);
    }
    FUZZ_CHECK(result.address == address);
    FUZZ_CHECK(result.address6 == address6);
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view answer = fuzz::AsText(data, size);
    const std::string trimmed = TrimUpdateAnswer(answer);
    CheckTrimmed(answer, trimmed);

    for (const std::string_view current : {kCurrentAddress, std::string_view()}) {
        CheckSplit(trimmed, current, SplitUpdateResult(trimmed, current));
    }
    const UpdateResult result = SplitUpdateResult(trimmed, kCurrentAddress);
    FUZZ_CHECK(!result.address.empty());

    // A message exactly for the known codes, valid text whenever what is filled in is.
    const std::string message = GetResultMessage(result.code, result.address);
    const bool known = std::find(std::begin(kKnownCodes), std::end(kKnownCodes), result.code) !=
                       std::end(kKnownCodes);
    FUZZ_CHECK(message.empty() != known);
    if (fuzz::IsValidUtf8(result.address)) {
        FUZZ_CHECK(fuzz::IsValidUtf8(message));
    }
    // Codes are compared exactly: the answer's own spelling finds a message only in lower case.
    if (!GetResultMessage(answer, kCurrentAddress).empty()) {
        FUZZ_CHECK(std::find(std::begin(kKnownCodes), std::end(kKnownCodes), answer) !=
                   std::end(kKnownCodes));
    }
    return 0;
}
