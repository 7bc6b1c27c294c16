#pragma once

// The file that holds an event log. Writers serialise on a lock file beside it that only they can
// open (root's, for the machine's log), waiting for it a bounded time, and never leave a
// half-changed file behind them: an append may first cut off a torn tail, and a rewrite goes to a
// temporary file that replaces the log in one rename. Readers take no lock at all (so no reader
// can hold up a writer); they read the whole file and check every record they use. The log file
// is readable by every user.

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

// The writers' lock file of the log at path: path + ".lock", mode 0600.
std::string EventLogLockPath(const std::string& path);

// Takes the writers' lock (waiting one second at most), opens the log file (creating its folder
// and the file when missing), reads it whole and applies what decide returns, durably (synced
// before returning). False when the lock is not had in time (errno ETIMEDOUT) or is not this
// process's own private file, or when the log cannot be opened, read (larger than maxBytes) or
// changed.
bool EditEventLogFile(
    const std::string& path, std::size_t maxBytes,
    const std::function<EventLogFileEdit(const std::vector<std::uint8_t>& contents)>& decide);

// Reads the whole log file without any lock. A missing file is an empty log; false when it
// cannot be opened or read, or is larger than maxBytes.
bool ReadEventLogFile(const std::string& path, std::size_t maxBytes,
                      std::vector<std::uint8_t>& contents);

// This machine's name as event records carry it; empty when unknown.
std::string LocalComputerName();

}  // namespace quarnel
