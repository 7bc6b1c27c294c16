#pragma once

// The debug log: one call, WriteLog, for every process and thread. Off unless LOGLEVEL asks for
// it; entries go to a file of the process's own and, with LOGPORT, as UDP datagrams to that port
// of 127.0.0.1.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/global_handles.h"
#include "platform/loopback_udp.h"

namespace quarnel {

enum LogLevel : int {
    kLogOff = 0,
    kLogFatal = 1,
    kLogError = 2,
    kLogWarn = 3,
    kLogInfo = 4,
    kLogDebug = 5,
    kLogTrace = 6,
    kLogAll = 7,
};

// The eight level names, each five characters, indexed by level.
extern const char* const LogLevelNames[8];

// True when an entry of this level passes the filter. One comparison, no lock: callers test it
// before building a message so that logging costs nothing while it is off.
inline bool LogLevelEnabled(int level) {
    return level > 0 && level <= globalHandles.logLevel;
}

// Writes one entry. Never fails towards the caller.
void WriteLog(int level, std::string_view sourceFile, std::string_view procedure, int line,
              std::string_view message, std::uint32_t lastError);

// Creates the log folder when missing and opens the log file named by the current time and the
// process id, positioned at its end; an invalid handle when that fails. Called by WriteLog
// under the lock.
UniqueHandle OpenLogFile();

// Closes the process's log file; the next entry opens a new one in DebugLogFolder() as it is
// then. For a process whose log folder changes (a new QUARNEL_ROOT): the tests give each case a
// root of its own and read back only that case's entries.
void CloseLogFile();

// The system's text for an error code with surrounding blanks removed; empty for 0 or unknown.
std::string GetErrorText(std::uint32_t code);

// Sends one text as one datagram, without terminator; an empty text is sent as one zero byte.
void SendLogString(const LoopbackDatagramSender& connection, std::string_view text);

}  // namespace quarnel

// Logging from a procedure: QLOG(kLogTrace, "ThreadServiceMain", "Thread started"). The message
// expression is evaluated only when the level passes.
#define QLOG(level, procedure, message)                                                  \
    do {                                                                                 \
        if (::quarnel::LogLevelEnabled(level)) {                                         \
            ::quarnel::WriteLog((level), __FILE__, (procedure), __LINE__, (message), 0); \
        }                                                                                \
    } while (0)

// The same with the last system error code attached (taken by the caller before the call).
#define QLOG_ERROR_CODE(level, procedure, message, code)                             \
    do {                                                                             \
        const std::uint32_t quarnelLogCode = (code);                                 \
        if (::quarnel::LogLevelEnabled(level)) {                                     \
            ::quarnel::WriteLog((level), __FILE__, (procedure), __LINE__, (message), \
                                quarnelLogCode);                                     \
        }                                                                            \
    } while (0)
