#include "ddns/transfer_rules.h"

#include <cstddef>

#include "ddns/http_client.h"
#include "platform/text.h"

namespace quarnel {

RedirectTarget RedirectScheme(std::string_view location, bool currentSecure) {
    const std::size_t colon = location.find(':');
    const std::size_t delimiter = location.find_first_of("/?#");
    if (colon == std::string_view::npos ||
        (delimiter != std::string_view::npos && delimiter < colon)) {
        return currentSecure ? RedirectTarget::Https : RedirectTarget::Http;
    }
    const std::string scheme = ToLowerAscii(location.substr(0, colon));
    if (scheme == "https") {
        return RedirectTarget::Https;
    }
    if (scheme == "http") {
        return RedirectTarget::Http;
    }
    return RedirectTarget::Other;
}

bool RedirectAllowed(bool originalSecure, std::uint32_t flags, RedirectTarget target) {
    if (!originalSecure) {
        return (flags & HttpFlagRedirect) != 0 && target != RedirectTarget::Other;
    }
    return target == RedirectTarget::Https;
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::vector<std::string> RequestHeaderLines(const HttpTransferRequest& request) {
    std::vector<std::string> lines = {"Accept: text/html,text/plain,*/*;q=0.5",
                                      "Accept-Charset: utf-8,*;q=0.5", "Cache-Control: no-cache",
                                      "Pragma: no-cache"};
    // An exact, case-sensitive search, so a caller's "content-type:" line does not count.
    if (!request.body.empty() && request.headers.find("Content-Type:") == std::string::npos) {
        lines.push_back("Content-Type: text/plain; charset=utf-8");
    }
    if ((request.flags & HttpFlagIdentify) != 0 && !request.userIdent.empty()) {
        lines.push_back("X-User-Ident: " + request.userIdent);
    }
    if ((request.flags & HttpFlagIdentify) != 0 && !request.hardwareIdent.empty()) {
        lines.push_back("X-Hardware-Ident: " + request.hardwareIdent);
    }
    for (std::string line : SplitText(request.headers, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace quarnel
