#include "diagnostics/event_log.h"

#include <algorithm>
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

// Offsets of the fixed part.
constexpr std::size_t kTimeGeneratedOffset = 12;
constexpr std::size_t kEventIdOffset = 20;
constexpr std::size_t kNumStringsOffset = 26;
constexpr std::size_t kStringOffsetOffset = 36;

// A record whose fixed part is there and whose signature matches.
bool IsValidRecord(const EventRecord& record) {
    return record.size() >= kEventRecordHeaderSize &&
           ReadLittleEndian32(record.data() + 4) == kEventRecordSignature;
}

// Where the record's bytes end for every read: its Length, but never beyond the buffer.
std::size_t RecordLimit(const EventRecord& record) {
    return std::min<std::size_t>(ReadLittleEndian32(record.data()), record.size());
}

// The UTF-16LE text at offset up to its terminator or the limit; bytes receives its length
// without terminator.
std::string TextAt(const EventRecord& record, std::size_t offset, std::size_t limit,
                   std::size_t& bytes) {
    std::size_t end = offset;
    while (end + 1 < limit && (record[end] != 0 || record[end + 1] != 0)) {
        end += 2;
    }
    bytes = end - offset;
    return Utf16LeBytesToUtf8(record.data() + offset, bytes, false);
}

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

std::uint32_t GetEventRecordTime(const EventRecord& record) {
    return IsValidRecord(record) ? ReadLittleEndian32(record.data() + kTimeGeneratedOffset) : 0;
}

std::int32_t GetEventRecordId(const EventRecord& record) {
    return IsValidRecord(record)
               ? static_cast<std::int32_t>(ReadLittleEndian32(record.data() + kEventIdOffset))
               : 0;
}

std::string GetEventRecordSource(const EventRecord& record) {
    if (!IsValidRecord(record)) {
        return {};
    }
    const std::size_t limit = RecordLimit(record);
    if (limit <= kEventRecordHeaderSize) {
        return {};
    }
    std::size_t bytes = 0;
    return TextAt(record, kEventRecordHeaderSize, limit, bytes);
}

std::size_t GetEventRecordStrings(const EventRecord& record, std::vector<std::string>& strings) {
    strings.clear();
    if (!IsValidRecord(record)) {
        return 0;
    }
    const std::size_t count = ReadLittleEndian16(record.data() + kNumStringsOffset);
    std::size_t offset = ReadLittleEndian32(record.data() + kStringOffsetOffset);
    if (offset == 0 || count == 0) {
        return 0;
    }
    const std::size_t limit = RecordLimit(record);
    strings.assign(count, std::string());
    for (std::size_t i = 0; i < count && offset < limit; ++i) {
        std::size_t bytes = 0;
        strings[i] = TextAt(record, offset, limit, bytes);
        offset += bytes + 2;
    }
    return count;
}

std::string GetEventRecordString(const EventRecord& record, int index) {
    std::vector<std::string> strings;
    const std::size_t count = GetEventRecordStrings(record, strings);
    if (count == 0 || index < 0 || static_cast<std::size_t>(index) >= count) {
        return {};
    }
    return strings[static_cast<std::size_t>(index)];
}

void CloseEventHandle(EventSourceHandle& source) {
    source.Reset();
}

void CloseEventHandle(EventLogHandle& log) {
    log.Reset();
}

std::vector<HistoryEntry> ReadEventLogHistory(std::string_view logName,
                                              std::string_view sourceName) {
    std::vector<HistoryEntry> history;
    EventLogHandle log = OpenEventLogByName(logName);
    if (!log) {
        return history;
    }
    while (const std::optional<EventRecord> record =
               ReadNextEventRecord(log, kEventLogForwardsRead)) {
        if (GetEventRecordSource(*record) != sourceName) {
            continue;
        }
        HistoryEntry entry;
        entry.line = FormatClock("[%yyyy-%mm-%dd %hh:%ii:%ss] ", GetEventRecordTime(*record)) +
                     GetEventRecordString(*record, 0);
        const std::int32_t id = GetEventRecordId(*record);
        if (id == static_cast<std::int32_t>(kEventRecordIdInformation)) {
            entry.imageSlot = 0;
        } else if (id == static_cast<std::int32_t>(kEventRecordIdWarning)) {
            entry.imageSlot = 2;
        } else {
            entry.imageSlot = 3;
        }
        history.push_back(std::move(entry));
    }
    CloseEventHandle(log);
    // Read oldest first, each placed at the top: the newest ends first.
    std::reverse(history.begin(), history.end());
    return history;
}

}  // namespace quarnel
