#include "diagnostics/event_log.h"

#include <chrono>
#include <cstddef>
#include <utility>

#include "diagnostics/event_log_store.h"
#include "diagnostics/event_message.h"
#include "diagnostics/event_record.h"
#include "diagnostics/log.h"
#include "platform/clock.h"
#include "platform/event_log_file.h"
#include "platform/process.h"
#include "platform/system_log.h"
#include "platform/text.h"

namespace quarnel {

struct EventSourceHandle::Source {
    std::string name;
    std::string logPath;
};

struct EventLogHandle::Log {
    std::vector<std::uint8_t> contents;
    std::size_t offset = 0;
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

namespace {

constexpr std::string_view kApplicationLog = "Application";

SystemLogPriority PriorityOfType(std::uint16_t type) {
    if (type == kEventRecordTypeError) {
        return SystemLogPriority::Error;
    }
    if (type == kEventRecordTypeWarning) {
        return SystemLogPriority::Warning;
    }
    return SystemLogPriority::Information;
}

std::uint32_t UtcSeconds() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

EventSourceHandle OpenEventSource(std::string_view sourceName) {
    if (sourceName.empty()) {
        return {};
    }
    auto source = std::make_unique<EventSourceHandle::Source>();
    source->name = std::string(sourceName);
    source->logPath = EventLogFilePath(kApplicationLog);
    return EventSourceHandle(std::move(source));
}

int ReportOutcomeEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category,
                       std::uint32_t eventId, const std::vector<std::string>& strings) {
    const EventSourceHandle::Source* opened = source.Get();
    if (opened == nullptr) {
        return 0;
    }
    EventRecordFields fields;
    fields.timeGenerated = UtcSeconds();
    fields.timeWritten = fields.timeGenerated;
    fields.eventId = eventId;
    fields.eventType = type;
    fields.category = category;
    fields.sourceName = opened->name;
    fields.computerName = LocalComputerName();
    fields.strings = strings;
    const bool written = AppendEventRecord(opened->logPath, fields, kEventLogMaximumBytes);
    if (!written) {
        // Dropped rather than retried: the update cycle must not wait for the log.
        QLOG_ERROR_CODE(kLogWarn, "ReportOutcomeEvent",
                        "Unable to write to " + opened->logPath + "; the record is dropped",
                        GetLastErrorCode());
    }
    // The system log keeps the history too, also when the file could not be written.
    WriteSystemLog(opened->name, PriorityOfType(type), EventMessageLine(eventId, strings));
    return written ? 1 : 0;
}

EventLogHandle OpenEventLogByName(std::string_view logName) {
    const std::string path = EventLogFilePath(logName);
    if (path.empty()) {
        return {};
    }
    auto log = std::make_unique<EventLogHandle::Log>();
    if (!ReadEventRecords(path, log->contents)) {
        return {};
    }
    return EventLogHandle(std::move(log));
}

std::optional<EventRecord> ReadNextEventRecord(EventLogHandle& log, std::uint32_t directionFlag) {
    EventLogHandle::Log* opened = log.Get();
    if (opened == nullptr || (directionFlag & kEventLogForwardsRead) == 0) {
        return std::nullopt;
    }
    // Damaged bytes and a record still being written are stepped over, never taken for records.
    opened->offset =
        NextEventRecordAt(opened->contents.data(), opened->contents.size(), opened->offset);
    const std::size_t length =
        EventRecordLengthAt(opened->contents.data(), opened->contents.size(), opened->offset);
    if (length == 0) {
        return std::nullopt;
    }
    const auto begin = opened->contents.begin() + static_cast<std::ptrdiff_t>(opened->offset);
    EventRecord record(begin, begin + static_cast<std::ptrdiff_t>(length));
    opened->offset += length;
    return record;
}

}  // namespace quarnel
