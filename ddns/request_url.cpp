#include "ddns/request_url.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ddns/port_text.h"
#include "platform/text.h"

namespace quarnel {
namespace {

bool IsHostNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool IsIPv6LiteralCharacter(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.';
}

bool NeedsEscape(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
           c == '`' || c == '{' || c == '|' || c == '}';
}

std::string EscapeForRequestLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::optional<RequestUrl> SplitRequestUrl(std::string_view url) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string scheme = ToLowerAscii(url.substr(0, schemeEnd));
    RequestUrl parts;
    if (scheme == "https") {
        parts.secure = true;
    } else if (scheme != "http") {
        return std::nullopt;
    }
    parts.port = parts.secure ? 443 : 80;

    std::string_view rest = url.substr(schemeEnd + 3);
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        rest = rest.substr(0, hash);
    }
    const std::size_t authorityEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authorityEnd);
    const std::string_view tail =
        authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority = authority.substr(at + 1);
    }

    std::string_view host = authority;
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close < 3) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        for (const char c : host.substr(1, host.size() - 2)) {
            if (!IsIPv6LiteralCharacter(c)) {
                return std::nullopt;
            }
        }
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        for (const char c : host) {
            if (!IsHostNameCharacter(c)) {
                return std::nullopt;
            }
        }
    }
    if (host.empty()) {
        return std::nullopt;
    }
    // "host:" with nothing after the colon means the scheme's port, as browsers read it.
    if (hasPort && !portText.empty()) {
        const std::optional<std::uint16_t> port = ReadPortText(portText);
        if (!port) {
            return std::nullopt;
        }
        parts.port = *port;
        parts.explicitPort = true;
    }
    parts.host = std::string(host);

    const std::size_t queryStart = tail.find('?');
    parts.path = std::string(tail.substr(0, queryStart));
    if (queryStart != std::string_view::npos) {
        parts.extra = std::string(tail.substr(queryStart));
    }
    return parts;
}

std::string TransportUrl(const RequestUrl& url) {
    std::string text = url.secure ? "https://" : "http://";
    text += url.host;
    if (url.explicitPort) {
        text += ":" + std::to_string(url.port);
    }
    text += EscapeForRequestLine(url.path);
    text += EscapeForRequestLine(url.extra);
    return text;
}

}  // namespace quarnel
