#pragma once

// The head of an HTTP response, read line by line as the server sends it: the parts the client
// acts on.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

struct ResponseHead {
    int status = 0;  // the status line's three-digit code; 0 when it has none
    std::optional<std::uint64_t> contentLength;  // a Content-Length of 1 to 18 digits
    std::string location;                        // the Location value without surrounding blanks
};

// True for a status line ("HTTP/..." in any letter case): it begins a new response's head.
bool IsStatusLine(std::string_view line);

// Reads one line of the head, without its line end. A status line starts the head anew; a
// Content-Length that is not a plain number forgets an earlier one; other lines are ignored.
void ReadResponseHeaderLine(std::string_view line, ResponseHead& head);

}  // namespace quarnel
