#pragma once

// The systemd unit that runs the service: its name, its text and the quoting rules of its
// command line.

#include <string>
#include <string_view>

namespace quarnel {

struct ServiceUnitSettings {
    std::string displayName;   // the unit's Description= (what systemctl and the journal show)
    std::string programPath;   // the program's full file name
    std::string arguments;     // blank-separated words; none when empty
    std::string description;   // the long text, a comment in the file; line breaks flattened
    std::string dependencies;  // units, each followed by a line feed
};

// "Quarnel Updater" -> "quarnel-updater.service": lower-case letters and digits, every other
// character a hyphen.
std::string UnitFileName(std::string_view serviceName);

// One word of a unit's command line as systemd reads it back: unchanged when it holds only
// plain characters, else in double quotes with backslash escapes; '%' doubled so that no
// specifier is expanded, and '$' doubled in arguments, where systemd expands variables (it
// does not in the program's path, which keeps a '$' as it is).
std::string QuoteUnitWord(std::string_view word, bool isArgument = true);

// The value of ExecStart= for the program and its arguments.
std::string UnitCommandLine(std::string_view programPath, std::string_view arguments);

// The description as one line: carriage returns removed, line feeds turned into blanks, '%'
// doubled.
std::string UnitDescription(std::string_view description);

// The whole unit file.
std::string BuildServiceUnit(const ServiceUnitSettings& settings);

// The value of the first "ExecStart=" line of a unit text; empty when it has none.
std::string FindUnitCommandLine(std::string_view unitText);

}  // namespace quarnel
