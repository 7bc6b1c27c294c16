// The event log of Windows: records are written with ReportEventW under the registered source
// (its message table is the program's own resource) and read back with ReadEventLogW, whose
// records have the layout the record readers (event_log_reader.cpp) expect.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/event_log.h"
#include "diagnostics/log.h"
#include "platform/process.h"
#include "platform/wide_text_win.h"

namespace quarnel {

struct EventSourceHandle::Source {
    HANDLE handle = nullptr;
    std::string name;
    ~Source() {
        if (handle != nullptr) {
            ::DeregisterEventSource(handle);
        }
    }
};

struct EventLogHandle::Log {
    HANDLE handle = nullptr;
    std::vector<std::uint8_t> buffer;  // the records of the last read
    std::size_t offset = 0;            // the next record in buffer
    std::size_t filled = 0;
    ~Log() {
        if (handle != nullptr) {
            ::CloseEventLog(handle);
        }
    }
};

EventSourceHandle::EventSourceHandle() = default;
EventSourceHandle::EventSourceHandle(std::unique_ptr<Source> source) : source_(std::move(source)) {}
EventSourceHandle::EventSourceHandle(EventSourceHandle&&) noexcept = default;
EventSourceHandle& EventSourceHandle::operator=(EventSourceHandle&&) noexcept = default;
EventSourceHandle::~EventSourceHandle() = default;
void EventSourceHandle::Reset() {
    source_.reset();
}

EventLogHandle::EventLogHandle() = default;
EventLogHandle::EventLogHandle(std::unique_ptr<Log> log) : log_(std::move(log)) {}
EventLogHandle::EventLogHandle(EventLogHandle&&) noexcept = default;
EventLogHandle& EventLogHandle::operator=(EventLogHandle&&) noexcept = default;
EventLogHandle::~EventLogHandle() = default;
void EventLogHandle::Reset() {
    log_.reset();
}

EventSourceHandle OpenEventSource(std::string_view sourceName) {
    if (sourceName.empty()) {
        return {};
    }
    auto source = std::make_unique<EventSourceHandle::Source>();
    source->name = std::string(sourceName);
    source->handle = ::RegisterEventSourceW(nullptr, Widen(sourceName).c_str());
    if (source->handle == nullptr) {
        QLOG_ERROR_CODE(kLogWarn, "OpenEventSource",
                        "Unable to register event source " + source->name, GetLastErrorCode());
        return {};
    }
    return EventSourceHandle(std::move(source));
}

int ReportOutcomeEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category,
                       std::uint32_t eventId, const std::vector<std::string>& strings) {
    const EventSourceHandle::Source* opened = source.Get();
    if (opened == nullptr) {
        return 0;
    }
    std::vector<std::wstring> wide;
    wide.reserve(strings.size());
    for (const std::string& text : strings) {
        wide.push_back(Widen(text));
    }
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& text : wide) {
        pointers.push_back(text.c_str());
    }
    if (!::ReportEventW(opened->handle, type, category, eventId, nullptr,
                        static_cast<WORD>(pointers.size()), 0,
                        pointers.empty() ? nullptr : pointers.data(), nullptr)) {
        // Dropped rather than retried: the update cycle must not wait for the log.
        QLOG_ERROR_CODE(kLogWarn, "ReportOutcomeEvent",
                        "Unable to report to the event log; the record is dropped",
                        GetLastErrorCode());
        return 0;
    }
    return 1;
}

EventLogHandle OpenEventLogByName(std::string_view logName) {
    auto log = std::make_unique<EventLogHandle::Log>();
    log->handle = ::OpenEventLogW(nullptr, Widen(logName).c_str());
    if (log->handle == nullptr) {
        return {};
    }
    log->buffer.resize(64 * 1024);
    return EventLogHandle(std::move(log));
}

std::optional<EventRecord> ReadNextEventRecord(EventLogHandle& log, std::uint32_t directionFlag) {
    EventLogHandle::Log* opened = log.Get();
    if (opened == nullptr || (directionFlag & kEventLogForwardsRead) == 0) {
        return std::nullopt;
    }
    if (opened->offset >= opened->filled) {
        DWORD read = 0;
        DWORD needed = 0;
        if (!::ReadEventLogW(opened->handle, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0,
                             opened->buffer.data(), static_cast<DWORD>(opened->buffer.size()),
                             &read, &needed)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed > (1u << 20)) {
                return std::nullopt;
            }
            opened->buffer.resize(needed);
            if (!::ReadEventLogW(opened->handle, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ,
                                 0, opened->buffer.data(),
                                 static_cast<DWORD>(opened->buffer.size()), &read, &needed)) {
                return std::nullopt;
            }
        }
        opened->offset = 0;
        opened->filled = read;
    }
    const std::uint8_t* at = opened->buffer.data() + opened->offset;
    const std::size_t left = opened->filled - opened->offset;
    if (left < sizeof(EVENTLOGRECORD)) {
        opened->offset = opened->filled;
        return std::nullopt;
    }
    const DWORD length = reinterpret_cast<const EVENTLOGRECORD*>(at)->Length;
    if (length < sizeof(EVENTLOGRECORD) || length > left) {
        opened->offset = opened->filled;
        return std::nullopt;
    }
    opened->offset += length;
    return EventRecord(at, at + length);
}

}  // namespace quarnel
