#include "platform/service_control_line.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <system_error>

namespace quarnel {
namespace {

// Reads one decimal number of at most 32 bits from text at pos; at least one digit.
bool ReadNumber(std::string_view text, std::size_t& pos, std::uint32_t& value) {
    const char* begin = text.data() + pos;
    const char* end = text.data() + text.size();
    if (begin == end || *begin < '0' || *begin > '9') {
        return false;
    }
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc()) {
        return false;
    }
    pos = static_cast<std::size_t>(stop - text.data());
    return true;
}

}  // namespace

std::string FormatControlRequest(const ServiceHostControl& control) {
    return std::to_string(control.control) + " " + std::to_string(control.eventType) + " " +
           control.serviceName;
}

bool ParseControlRequest(std::string_view line, ServiceHostControl& control) {
    std::size_t pos = 0;
    if (!ReadNumber(line, pos, control.control) || pos >= line.size() || line[pos] != ' ') {
        return false;
    }
    ++pos;
    if (!ReadNumber(line, pos, control.eventType)) {
        return false;
    }
    if (pos == line.size()) {
        control.serviceName.clear();
        return true;
    }
    if (line[pos] != ' ') {
        return false;
    }
    control.serviceName = std::string(line.substr(pos + 1));
    return control.serviceName.find('\0') == std::string::npos;
}

std::string FormatControlReply(bool delivered, const ServiceStatus& status) {
    std::string reply = delivered ? "1" : "0";
    for (const std::uint32_t field :
         {status.serviceType, status.currentState, status.controlsAccepted, status.win32ExitCode,
          status.serviceSpecificExitCode, status.checkPoint, status.waitHint}) {
        reply += ' ';
        reply += std::to_string(field);
    }
    return reply;
}

bool ParseControlReply(std::string_view line, bool& delivered, ServiceStatus& status) {
    std::uint32_t fields[8] = {};
    std::size_t pos = 0;
    for (int i = 0; i < 8; ++i) {
        if (i > 0) {
            if (pos >= line.size() || line[pos] != ' ') {
                return false;
            }
            ++pos;
        }
        if (!ReadNumber(line, pos, fields[i])) {
            return false;
        }
    }
    if (pos != line.size() || fields[0] > 1) {
        return false;
    }
    delivered = fields[0] == 1;
    status = {fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]};
    return true;
}

}  // namespace quarnel
