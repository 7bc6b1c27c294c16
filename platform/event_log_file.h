#pragma once

// The file that holds an event log. Writers change it under an exclusive lock and never leave a
// half-changed file behind them: an append is cut back to the last whole record first, and a
// rewrite goes to a temporary file that replaces the log in one rename. Readers read the whole
// file under a shared lock. The file is readable by every user.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarnel {

// What a writer does with the log file once it has seen its contents.
struct EventLogFileEdit {
    enum class Kind { Nothing, Append, Replace };
    Kind kind = Kind::Nothing;
    // Append: how many bytes of the current contents stay; anything after them (a torn tail) is
    // cut off before the new bytes are written there.
    std::size_t keep = 0;
    // Append: the new bytes; Replace: the whole new contents.
    std::vector<std::uint8_t> bytes;
};

// Opens the log file (creating its folder and the file when missing), locks it exclusively,
// reads it whole and applies what decide returns, durably (synced before returning). False when
// the file cannot be opened, read (larger than maxBytes) or changed.
bool EditEventLogFile(
    const std::string& path, std::size_t maxBytes,
    const std::function<EventLogFileEdit(const std::vector<std::uint8_t>& contents)>& decide);

// Reads the whole log file under a shared lock. A missing file is an empty log; false when it
// cannot be opened or read, or is larger than maxBytes.
bool ReadEventLogFile(const std::string& path, std::size_t maxBytes,
                      std::vector<std::uint8_t>& contents);

// This machine's name as event records carry it; empty when unknown.
std::string LocalComputerName();

}  // namespace quarnel
