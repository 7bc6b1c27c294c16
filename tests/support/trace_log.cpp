#include "tests/support/trace_log.h"

#include <cstddef>

#include "diagnostics/log.h"
#include "platform/global_handles.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"

namespace quarnel::test {

void EnableTraceLog() {
    // A file opened for an earlier case of this process lies in that case's folder.
    CloseLogFile();
    globalHandles.logLockCreated = true;
    for (int i = 0; i < 8; ++i) {
        globalHandles.logLevelNames[i] = LogLevelNames[i];
    }
    globalHandles.logPort = 0;
    globalHandles.logLevel = kLogTrace;
}

std::string TraceLogText() {
    const std::string folder = DebugLogFolder();
    std::string text;
    for (const std::string& name : ListFolder(folder)) {
        text += ReadFileText(folder + "/" + name);
    }
    return text;
}

int CountLogEntries(const std::string& log, const std::string& procedure,
                    const std::string& message) {
    // An entry reads "... [file:Procedure:line] message\r\n".
    int count = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            end = log.size();
        }
        const std::string line = log.substr(start, end - start);
        start = end + 2;
        const std::size_t close = line.find("] ");
        if (close == std::string::npos) {
            continue;
        }
        const std::string head = line.substr(0, close);
        const std::size_t lastColon = head.rfind(':');
        const std::size_t procedureColon =
            lastColon == std::string::npos ? std::string::npos : head.rfind(':', lastColon - 1);
        if (procedureColon == std::string::npos) {
            continue;
        }
        if (head.substr(procedureColon + 1, lastColon - procedureColon - 1) == procedure &&
            line.substr(close + 2) == message) {
            ++count;
        }
    }
    return count;
}

}  // namespace quarnel::test
