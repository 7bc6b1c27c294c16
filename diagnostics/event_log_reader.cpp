#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/event_log.h"
#include "diagnostics/event_record.h"
#include "platform/clock.h"
#include "platform/text.h"

// Reading the fields of one record, and the history built from them: the same on every platform,
// because the records have one layout wherever they were read from.

namespace quarnel {
namespace {

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

}  // namespace

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
