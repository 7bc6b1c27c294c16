#include "diagnostics/log.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace quarnel {

const char* const LogLevelNames[8] = {"OFF  ", "FATAL", "ERROR", "WARN ",
                                      "INFO ", "DEBUG", "TRACE", "ALL  "};

namespace {

// The process's log file, opened by the first entry that passes the filter and kept open until
// the process ends. Guarded by the log lock.
UniqueHandle logFile;

std::string BaseName(std::string_view path) {
    const std::size_t cut = path.find_last_of("\\/");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// Pads on the left with "0" to width, or keeps only the first width characters.
std::string FixedWidth(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), '0');
    } else if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

void PutLittleEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The entry's line (and error line) as the file holds them.
std::string FormatEntry(int level, std::string_view fileName, std::string_view procedure, int line,
                        std::string_view message, std::uint32_t lastError,
                        std::string_view errorText, std::uint64_t threadId, std::int64_t now) {
    char threadText[32];
    std::snprintf(threadText, sizeof threadText, "%llX", static_cast<unsigned long long>(threadId));
    std::string entry;
    entry.reserve(64 + fileName.size() + procedure.size() + message.size());
    entry += FixedWidth(threadText, 4);
    entry += FormatClock(" %yyyy-%mm-%dd %hh:%ii:%ss ", now);
    entry += globalHandles.logLevelNames[level] ? globalHandles.logLevelNames[level]
                                                : LogLevelNames[level];
    entry += " [";
    entry += fileName;
    entry += ':';
    entry += procedure;
    entry += ':';
    entry += FixedWidth(std::to_string(line), 4);
    entry += "] ";
    entry += message;
    entry += "\r\n";
    if (lastError != 0) {
        char codeText[16];
        std::snprintf(codeText, sizeof codeText, "%08X", lastError);
        entry += codeText;
        entry += ": ";
        entry += errorText;
        entry += "\r\n";
    }
    return entry;
}

// Whether a root process may send its datagrams to the port: only while every socket bound to
// it belongs to root, since entries name hosts, accounts and addresses, and any user can bind a
// free loopback port first. Looked up at most once a second (and at once for another port);
// guarded by the log lock.
struct DatagramPermission {
    int port = 0;
    std::chrono::steady_clock::time_point checked;
    bool allowed = false;
    bool told = false;  // the refusal is in the file; told again after a time it was allowed
};
DatagramPermission datagramPermission;

bool MaySendDatagrams(int port, std::string& refusal) {
    if (CurrentUserId() != 0) {
        return true;
    }
    DatagramPermission& permission = datagramPermission;
    const auto now = std::chrono::steady_clock::now();
    if (permission.port == port && now - permission.checked < std::chrono::seconds(1)) {
        return permission.allowed;
    }
    permission.port = port;
    permission.checked = now;
    const std::vector<std::uint32_t> owners =
        UdpPortOwners(static_cast<std::uint16_t>(static_cast<std::uint32_t>(port)));
    std::string why;
    for (const std::uint32_t owner : owners) {
        if (owner != 0) {
            why = "port " + std::to_string(port) + " of 127.0.0.1 is bound by user " +
                  std::to_string(owner) + ", not by root";
        }
    }
    if (owners.empty()) {
        why = "no socket of root's is bound to port " + std::to_string(port) + " of 127.0.0.1";
    }
    permission.allowed = why.empty();
    if (permission.allowed) {
        permission.told = false;
    } else if (!permission.told) {
        permission.told = true;
        refusal = "LOGPORT datagrams of this root process are not sent: " + why;
    }
    return permission.allowed;
}

}  // namespace

std::string GetErrorText(std::uint32_t code) {
    if (code == 0) {
        return {};
    }
    std::string text = SystemErrorText(code);
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void SendLogString(const LoopbackDatagramSender& connection, std::string_view text) {
    if (text.empty()) {
        const std::uint8_t zero = 0;
        connection.Send(&zero, 1);
    } else {
        connection.Send(text.data(), text.size());
    }
}

UniqueHandle OpenLogFile() {
    const std::string folder = DebugLogFolder();
    if (!IsDirectory(folder)) {
        // Parents are created too: on a fresh account ~/.local/state may not exist yet. The
        // folder is private because entries name hosts, accounts and addresses.
        (void)CreateFolders(folder, 0700);
    }
    const std::string path = folder + "/debug" +
                             FormatClock(".%yy%mm%dd.%hh%ii%ss.", LocalClockSeconds()) +
                             std::to_string(CurrentProcessId()) + ".log";
    UniqueHandle file = OpenReadWriteFile(path, 0600);
    // A file of that name already holds another process's entries (the same process id within
    // the same second, as a quick restart in a fresh PID namespace gives): continue after them
    // rather than write over them from the start.
    if (file) {
        (void)SeekToEnd(file.Get());
    }
    return file;
}

void CloseLogFile() {
    std::lock_guard<std::mutex> lock(globalHandles.logLock);
    logFile.Reset();
}

void WriteLog(int level, std::string_view sourceFile, std::string_view procedure, int line,
              std::string_view message, std::uint32_t lastError) {
    if (!globalHandles.logLockCreated.load(std::memory_order_acquire)) {
        return;
    }
    if (!LogLevelEnabled(level)) {
        return;
    }
    std::lock_guard<std::mutex> lock(globalHandles.logLock);

    if (!logFile.Valid()) {
        logFile = OpenLogFile();
    }

    const std::uint64_t processId = CurrentProcessId();
    const std::uint64_t threadId = CurrentThreadId();
    const std::int64_t now = LocalClockSeconds();

    const std::string fileName = BaseName(sourceFile);
    const std::string errorText = GetErrorText(lastError);

    std::string refusal;
    if (globalHandles.logPort != 0 && MaySendDatagrams(globalHandles.logPort, refusal)) {
        const LoopbackDatagramSender connection(
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(globalHandles.logPort)));
        if (connection.Valid()) {
            std::uint8_t header[32];
            PutLittleEndian(header + 0, processId, 8);
            PutLittleEndian(header + 8, threadId, 8);
            PutLittleEndian(header + 16, static_cast<std::uint32_t>(now), 4);
            PutLittleEndian(header + 20, static_cast<std::uint32_t>(level), 4);
            PutLittleEndian(header + 24, static_cast<std::uint32_t>(line), 4);
            PutLittleEndian(header + 28, lastError, 4);
            connection.Send(header, sizeof header);
            SendLogString(connection, fileName);
            SendLogString(connection, procedure);
            SendLogString(connection, message);
            SendLogString(connection, errorText);
        }
    }

    if (logFile.Valid()) {
        std::string entry;
        if (!refusal.empty()) {
            entry = FormatEntry(kLogWarn, BaseName(__FILE__), "WriteLog", __LINE__, refusal, 0, "",
                                threadId, now);
        }
        entry += FormatEntry(level, fileName, procedure, line, message, lastError, errorText,
                             threadId, now);
        // One write per entry: the file is complete up to this entry when it returns.
        (void)WriteAll(logFile.Get(), entry.data(), entry.size());
    }
}

}  // namespace quarnel
