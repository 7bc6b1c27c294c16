#pragma once

// Small text codecs the emulator needs to read requests: percent-decoding, query strings and the
// Basic authorization header.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace emulator {

// Decodes %XX sequences; "+" becomes a blank when plusIsBlank (form encoding). A malformed "%"
// stays as it is.
std::string PercentDecode(std::string_view text, bool plusIsBlank);

// Key/value pairs of a query ("a=1&b=&c"), decoded, in their order.
using QueryPairs = std::vector<std::pair<std::string, std::string>>;
QueryPairs ParseQuery(std::string_view query);

// The first value of a key, if the key is present.
std::optional<std::string> QueryValue(const QueryPairs& pairs, std::string_view key);

// Splits a request target "/path?query" into its path and query (without "?").
std::pair<std::string, std::string> SplitTarget(std::string_view target);

// User and password of an "Authorization: Basic ..." value; nothing when it is not Basic or does
// not decode to "user:password".
std::optional<std::pair<std::string, std::string>> ParseBasicAuthorization(std::string_view value);

// JSON string literal (with quotes) for any bytes; bytes that are not valid UTF-8 are written as
// \u00XX so that the log stays one valid line.
std::string JsonString(std::string_view text);

}  // namespace emulator
