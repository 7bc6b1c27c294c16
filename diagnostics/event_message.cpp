#include "diagnostics/event_message.h"

#include <cstddef>
#include <cstdio>

namespace quarnel {
namespace {

struct MessageText {
    std::uint32_t eventId;
    const char* english;
    const char* german;
};

// "\r\n" stand for a real carriage return and line feed in the stored text.
constexpr MessageText kMessages[] = {
    {0x40000064, "The dynamic DNS service has reported the following information:%r%n\r\n%1\r\n",
     "Der dynamische DNS Dienst hat folgende Information zurückgegeben:%r%n\r\n%1\r\n"},
    {0x80000065, "The dynamic DNS service has reported the following warning:%r%n\r\n%1\r\n",
     "Der dynamische DNS Dienst hat folgende Warnung zurückgegeben:%r%n\r\n%1\r\n"},
    {0xC0000066, "The dynamic DNS service has reported the following error:%r%n\r\n%1\r\n",
     "Der dynamische DNS Dienst hat folgenden Fehler zurückgegeben:%r%n\r\n%1\r\n"},
};

}  // namespace

std::string FormatEventMessage(std::uint32_t eventId, const std::vector<std::string>& strings) {
    return FormatEventMessage(eventId, strings, CurrentLanguage());
}

std::string FormatEventMessage(std::uint32_t eventId, const std::vector<std::string>& strings,
                               Language language) {
    const char* text = nullptr;
    for (const MessageText& message : kMessages) {
        if (message.eventId == eventId) {
            text = language == Language::German ? message.german : message.english;
        }
    }
    if (text == nullptr) {
        return {};
    }
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c != '%' || c[1] == '\0') {
            out.push_back(*c);
            continue;
        }
        ++c;
        if (*c == 'r') {
            out += '\r';
        } else if (*c == 'n') {
            out += "\r\n";
        } else if (*c >= '1' && *c <= '9') {
            std::size_t number = static_cast<std::size_t>(*c - '0');
            if (c[1] >= '0' && c[1] <= '9') {
                number = number * 10 + static_cast<std::size_t>(*++c - '0');
            }
            if (number <= strings.size()) {
                out += strings[number - 1];
            }
        } else {
            out.push_back(*c);  // "%%", "%." and the like: the character itself
        }
    }
    return out;
}

std::string EventMessageLine(std::uint32_t eventId, const std::vector<std::string>& strings) {
    return EventMessageLine(eventId, strings, CurrentLanguage());
}

std::string EventMessageLine(std::uint32_t eventId, const std::vector<std::string>& strings,
                             Language language) {
    std::string message = FormatEventMessage(eventId, strings, language);
    if (message.empty()) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%08X", eventId);
        message = std::string("Event ") + number + ":";
        for (const std::string& text : strings) {
            message += " " + text;
        }
    }
    std::string line;
    bool blank = false;
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ' ') {
            blank = true;
            continue;
        }
        if (blank && !line.empty()) {
            line.push_back(' ');
        }
        blank = false;
        line.push_back(c);
    }
    return line;
}

}  // namespace quarnel
