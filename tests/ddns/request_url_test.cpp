#include "ddns/request_url.h"

#include <gtest/gtest.h>

#include <optional>

namespace quarnel {
namespace {

TEST(RequestUrl, PartsAndPortsAtTheirBounds) {
    const struct {
        const char* url;
        const char* transport;  // nullptr: the URL is refused
    } cases[] = {
        {"HTTPS://user:pw@Host.example/p?q=1#frag", "https://Host.example/p?q=1"},
        {"http://h:1/", "http://h:1/"},
        {"http://h:65535/x", "http://h:65535/x"},
        {"http://h:65536/x", nullptr},
        {"http://h:0/x", nullptr},
        {"http://h:/x", "http://h/x"},
        {"http://[::]:8080", "http://[::]:8080"},  // the shortest literal that names an address
        {"http://[:]/", nullptr},
        {"http://[::1]x/", nullptr},
        {"http://h_o-s.t/", "http://h_o-s.t/"},
        {"http://h!/", nullptr},
        {"ftp://h/", nullptr},
        {"http:///x", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const std::optional<RequestUrl> url = SplitRequestUrl(c.url);
        ASSERT_EQ(url.has_value(), c.transport != nullptr);
        if (url) {
            EXPECT_EQ(TransportUrl(*url), c.transport);
        }
    }
    const RequestUrl plain = *SplitRequestUrl("https://h");
    EXPECT_EQ(plain.port, 443);
    EXPECT_FALSE(plain.explicitPort);
    EXPECT_EQ(SplitRequestUrl("http://h:65535")->port, 65535);
}

TEST(RequestUrl, EscapingCoversExactlyTheBytesARequestLineCannotCarry) {
    // Each class at its edges: 0x1F and 0x20 are escaped, 0x21 is not; 0x7E is not, 0x7F and
    // 0x80 are. An existing escape stays as it is.
    const RequestUrl url{false, "h", 80, false, "/\x1F\x20\x21~\x7F\x80%41", "?\"<>\\^`{|}&="};
    EXPECT_EQ(TransportUrl(url), "http://h/%1F%20!~%7F%80%41?%22%3C%3E%5C%5E%60%7B%7C%7D&=");
}

}  // namespace
}  // namespace quarnel
