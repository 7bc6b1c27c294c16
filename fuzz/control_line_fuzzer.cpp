// The service control socket's request and reply lines: arbitrary lines from a client or a
// service, and every request and reply read back after writing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/service_control_line.h"

namespace quarnel {
namespace {

bool SameControl(const ServiceHostControl& a, const ServiceHostControl& b) {
    return a.control == b.control && a.eventType == b.eventType && a.serviceName == b.serviceName;
}

bool SameStatus(const ServiceStatus& a, const ServiceStatus& b) {
    return a.serviceType == b.serviceType && a.currentState == b.currentState &&
           a.controlsAccepted == b.controlsAccepted && a.win32ExitCode == b.win32ExitCode &&
           a.serviceSpecificExitCode == b.serviceSpecificExitCode && a.checkPoint == b.checkPoint &&
           a.waitHint == b.waitHint;
}

std::uint32_t Number(const std::uint8_t* data, std::size_t size, std::size_t index) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = index * 4 + i;
        value = (value << 8) | (at < size ? data[at] : 0);
    }
    return value;
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view line = fuzz::AsText(data, size);

    // An accepted request is one the client side writes the same way.
    ServiceHostControl control;
    if (ParseControlRequest(line, control)) {
        FUZZ_CHECK(control.serviceName.find('\0') == std::string::npos);
        FUZZ_CHECK(line.size() >= control.serviceName.size());
        FUZZ_CHECK(line.substr(line.size() - control.serviceName.size()) == control.serviceName);
        ServiceHostControl again;
        FUZZ_CHECK(ParseControlRequest(FormatControlRequest(control), again));
        FUZZ_CHECK(SameControl(again, control));
    }
    bool delivered = false;
    ServiceStatus status;
    if (ParseControlReply(line, delivered, status)) {
        FUZZ_CHECK(line.find_first_not_of("0123456789 ") == std::string_view::npos);
        bool deliveredAgain = !delivered;
        ServiceStatus again;
        FUZZ_CHECK(ParseControlReply(FormatControlReply(delivered, status), deliveredAgain, again));
        FUZZ_CHECK(deliveredAgain == delivered && SameStatus(again, status));
    }

    // Requests and replies written from the input's numbers (and the rest as the name) read back.
    ServiceHostControl written;
    written.control = Number(data, size, 0);
    written.eventType = Number(data, size, 1);
    if (size > 8) {
        written.serviceName = std::string(line.substr(8));
    }
    ServiceHostControl read;
    const bool readable = ParseControlRequest(FormatControlRequest(written), read);
    FUZZ_CHECK(readable == (written.serviceName.find('\0') == std::string::npos));
    if (readable) {
        FUZZ_CHECK(SameControl(read, written));
    }
    const ServiceStatus reported{
        Number(data, size, 0), Number(data, size, 1), Number(data, size, 2), Number(data, size, 3),
        Number(data, size, 4), Number(data, size, 5), Number(data, size, 6)};
    const bool took = size > 0 && (data[0] & 1) != 0;
    bool tookRead = !took;
    ServiceStatus reportedRead;
    FUZZ_CHECK(ParseControlReply(FormatControlReply(took, reported), tookRead, reportedRead));
    FUZZ_CHECK(tookRead == took && SameStatus(reportedRead, reported));
    return 0;
}
