#pragma once

// The rules every HTTP transport of the program follows, whatever carries the bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/http_transfer_wire.h"

namespace quarnel {

enum class RedirectTarget { Http, Https, Other };

// The scheme a Location value leads to; a relative reference keeps the current one.
RedirectTarget RedirectScheme(std::string_view location, bool currentSecure);
// http requests follow redirects only when asked to (HttpFlagRedirect), then to http and https
// alike; https requests follow redirects to https only, so a secure exchange never continues in
// plain text.
bool RedirectAllowed(bool originalSecure, std::uint32_t flags, RedirectTarget target);
bool IsRedirectStatus(int status);

// The request's header lines in their fixed order: Accept, Accept-Charset, Cache-Control and
// Pragma (no cache may answer for the server), a Content-Type for a body unless the caller gives
// one, the identity headers when asked for and known, then the caller's own lines.
std::vector<std::string> RequestHeaderLines(const HttpTransferRequest& request);

}  // namespace quarnel
