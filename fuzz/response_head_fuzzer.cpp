// HTTP response heads: arbitrary header lines as a server may send them, read one by one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ddns/response_head.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

void CheckHead(const ResponseHead& head) {
    FUZZ_CHECK(head.status >= 0 && head.status <= 999);
    if (head.contentLength) {
        FUZZ_CHECK(*head.contentLength < 1000000000000000000ull);
    }
    if (!head.location.empty()) {
        for (const char end : {head.location.front(), head.location.back()}) {
            FUZZ_CHECK(end != ' ' && end != '\t');
        }
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    ResponseHead head;
    for (std::string_view line : SplitText(fuzz::AsText(data, size), '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const ResponseHead before = head;
        ReadResponseHeaderLine(line, head);
        CheckHead(head);
        if (IsStatusLine(line)) {
            // A new response: nothing of the one before is left.
            FUZZ_CHECK(!head.contentLength && head.location.empty());
        } else if (line.find(':') == std::string_view::npos) {
            // Lines that are no header fields change nothing.
            FUZZ_CHECK(head.status == before.status && head.contentLength == before.contentLength &&
                       head.location == before.location);
        }
    }

    // Numbers and locations written by a server read back as they were written.
    if (size >= 8) {
        std::uint64_t number = 0;
        for (int i = 0; i < 8; ++i) {
            number = (number << 8) | data[i];
        }
        number %= 1000000000000000000ull;
        ResponseHead written;
        ReadResponseHeaderLine("HTTP/1.1 " + std::to_string(number % 1000) + " Reason", written);
        const int code = static_cast<int>(number % 1000);
        FUZZ_CHECK(written.status == (code >= 100 ? code : 0));  // three digits or none
        ReadResponseHeaderLine("Content-Length: " + std::to_string(number), written);
        FUZZ_CHECK(written.contentLength == number);
        const std::string_view location = fuzz::AsText(data + 8, size - 8);
        ReadResponseHeaderLine("LOCATION:\t" + std::string(location) + " ", written);
        const std::size_t first = location.find_first_not_of(" \t");
        const std::size_t last = location.find_last_not_of(" \t");
        FUZZ_CHECK(written.location == (first == std::string_view::npos
                                            ? std::string_view()
                                            : location.substr(first, last - first + 1)));
    }
    return 0;
}
