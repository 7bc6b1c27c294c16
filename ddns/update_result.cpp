#include "ddns/update_result.h"

#include "platform/text.h"
#include "resources/texts.h"

namespace quarnel {
namespace {

struct ResultMessage {
    std::string_view code;
    int textId;
};

constexpr ResultMessage kResultMessages[] = {
    {"nochg", 133},  {"good", 134},     {"dnserr", 135},   {"911", 136},     {"abuse", 137},
    {"nohost", 138}, {"notfqdn", 139},  {"numhost", 140},  {"badauth", 141}, {"badagent", 142},
    {"!yours", 143}, {"!donator", 144}, {"!unknown", 145}, {"!empty", 146},  {"!noauth", 154},
};

}  // namespace

bool IsProviderReturnCode(std::string_view code) {
    for (const ResultMessage& entry : kResultMessages) {
        if (entry.code == code) {
            return code != "!unknown" && code != "!empty" && code != "!noauth";
        }
    }
    return false;
}

UpdateResult SplitUpdateResult(std::string_view answer, std::string_view currentAddress) {
    UpdateResult result;
    if (!answer.empty()) {
        const std::size_t blank = answer.find(' ');
        result.code = ToLowerAscii(answer.substr(0, blank));
        if (blank != std::string_view::npos) {
            const std::string_view rest = answer.substr(blank + 1);
            result.address = std::string(rest.substr(0, rest.find(' ')));
        }
    }
    if (result.address.empty()) {
        result.address = std::string(currentAddress);
    }
    return result;
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
