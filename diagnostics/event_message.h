#pragma once

// The message table of the event records: the sentence that an event id stands for, in English
// and German.

#include <cstdint>
#include <string>
#include <vector>

#include "resources/texts.h"

namespace quarnel {

// The message of an event id in the language of the string table (CurrentLanguage) or the one
// given, with "%1", "%2", ... filled from the insert strings, its line breaks as stored ("%r" a
// carriage return, "%n" a line break); empty for an id without a message.
std::string FormatEventMessage(std::uint32_t eventId, const std::vector<std::string>& strings);
std::string FormatEventMessage(std::uint32_t eventId, const std::vector<std::string>& strings,
                               Language language);

// The message as one line for the system log: line breaks and other control characters become
// blanks, runs of them one blank, none at either end. An id without a message gives its
// hexadecimal number and the insert strings.
std::string EventMessageLine(std::uint32_t eventId, const std::vector<std::string>& strings);
std::string EventMessageLine(std::uint32_t eventId, const std::vector<std::string>& strings,
                             Language language);

}  // namespace quarnel
