#include "ddns/update_result.h"

#include <cstddef>

#include "ddns/ip_address.h"
#include "platform/text.h"
#include "resources/texts.h"

namespace quarnel {
namespace {

struct ResultMessage {
    std::string_view code;
    int textId;
};

constexpr ResultMessage kResultMessages[] = {
    {"nochg", 133},    {"good", 134},     {"dnserr", 135},  {"911", 136},
    {"abuse", 137},    {"nohost", 138},   {"notfqdn", 139}, {"numhost", 140},
    {"badauth", 141},  {"badagent", 142}, {"!yours", 143},  {"!donator", 144},
    {"!unknown", 145}, {"!empty", 146},   {"!noauth", 154}, {"!noanswer", 165},
};

}  // namespace

bool IsProviderReturnCode(std::string_view code) {
    for (const ResultMessage& entry : kResultMessages) {
        if (entry.code == code) {
            return code != "!unknown" && code != "!empty" && code != "!noauth" &&
                   code != "!noanswer";
        }
    }
    return false;
}

UpdateResult SplitUpdateResult(std::string_view answer, std::string_view currentAddress) {
    // An answer for several host names has one line per name; the first stands for all of them.
    const std::string_view line = answer.substr(0, answer.find_first_of("\r\n"));
    UpdateResult result;
    const std::size_t blank = line.find(' ');
    result.code = ToLowerAscii(line.substr(0, blank));
    if (blank != std::string_view::npos) {
        const std::string_view rest = line.substr(blank + 1);
        result.address = std::string(rest.substr(0, rest.find(' ')));
    }
    if (const std::size_t comma = result.address.find(','); comma != std::string::npos) {
        const std::string second = result.address.substr(comma + 1);
        result.address.resize(comma);
        if (IsValidIPAddress(result.address) && IsValidIPv6Address(second)) {
            result.address6 = second;
        } else {
            result.address.clear();
        }
    }
    // Only an address can be remembered as the one the provider holds: anything else would make
    // every later cycle see a change and send again.
    if (!IsValidIPAddress(result.address)) {
        result.address = std::string(currentAddress);
    }
    return result;
}

std::string ResultAddresses(const UpdateResult& result) {
    return result.address6.empty() ? result.address : result.address + ", " + result.address6;
}

std::string GetResultMessage(std::string_view code, std::string_view insertion) {
    for (const ResultMessage& entry : kResultMessages) {
        if (entry.code == code) {
            return GetLocalizedText(entry.textId, insertion);
        }
    }
    return {};
}

}  // namespace quarnel
