#include "ddns/response_head.h"

#include <cstddef>

#include "platform/text.h"

namespace quarnel {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ToLowerAscii(text.substr(0, prefix.size())) == prefix;
}

}  // namespace

bool IsStatusLine(std::string_view line) {
    return StartsWithNoCase(line, "http/");
}

void ReadResponseHeaderLine(std::string_view line, ResponseHead& head) {
    if (IsStatusLine(line)) {
        head = ResponseHead();
        const std::size_t blank = line.find(' ');
        if (blank != std::string_view::npos) {
            int status = 0;
            for (std::size_t i = blank + 1; i < line.size() && i < blank + 4; ++i) {
                if (line[i] < '0' || line[i] > '9') {
                    status = 0;
                    break;
                }
                status = status * 10 + (line[i] - '0');
            }
            head.status = status;
        }
    } else if (StartsWithNoCase(line, "content-length:")) {
        const std::string_view value = TrimBlanks(line.substr(15));
        std::uint64_t number = 0;
        bool numeric = !value.empty() && value.size() <= 18;
        for (const char c : value) {
            numeric = numeric && c >= '0' && c <= '9';
            number = number * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (numeric) {
            head.contentLength = number;
        } else {
            head.contentLength.reset();
        }
    } else if (StartsWithNoCase(line, "location:")) {
        head.location = std::string(TrimBlanks(line.substr(9)));
    }
}

}  // namespace quarnel
