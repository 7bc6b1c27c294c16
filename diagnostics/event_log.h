#pragma once

// The event log: the lasting history of the service's outcomes. The writer reports one record
// per update request under an event source; every record also goes to the system log with its
// message. The reader walks a log's records oldest first and reads their fields; any read stays
// within the record's bytes, whatever its fields say.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// Event types and the ids of the outcome records.
inline constexpr std::uint16_t kEventRecordTypeError = 1;
inline constexpr std::uint16_t kEventRecordTypeWarning = 2;
inline constexpr std::uint16_t kEventRecordTypeInformation = 4;
inline constexpr std::uint32_t kEventRecordIdInformation = 0x40000064;
inline constexpr std::uint32_t kEventRecordIdWarning = 0x80000065;
inline constexpr std::uint32_t kEventRecordIdError = 0xC0000066;

// Read direction flags; the log is read forwards.
inline constexpr std::uint32_t kEventLogSequentialRead = 1;
inline constexpr std::uint32_t kEventLogForwardsRead = 4;

class EventSourceHandle {
  public:
    struct Source;
    EventSourceHandle();
    explicit EventSourceHandle(std::unique_ptr<Source> source);
    EventSourceHandle(EventSourceHandle&&) noexcept;
    EventSourceHandle& operator=(EventSourceHandle&&) noexcept;
    ~EventSourceHandle();
    explicit operator bool() const { return source_ != nullptr; }
    const Source* Get() const { return source_.get(); }
    void Reset();

  private:
    std::unique_ptr<Source> source_;
};

class EventLogHandle {
  public:
    struct Log;
    EventLogHandle();
    explicit EventLogHandle(std::unique_ptr<Log> log);
    EventLogHandle(EventLogHandle&&) noexcept;
    EventLogHandle& operator=(EventLogHandle&&) noexcept;
    ~EventLogHandle();
    explicit operator bool() const { return log_ != nullptr; }
    Log* Get() const { return log_.get(); }
    void Reset();

  private:
    std::unique_ptr<Log> log_;
};

// One record's bytes, exactly as stored.
using EventRecord = std::vector<std::uint8_t>;

// A source that writes to the "Application" log; empty when the name is empty.
EventSourceHandle OpenEventSource(std::string_view sourceName);
// Writes one record (category, event id, the insert strings, the time now) and sends its message
// to the system log. 1 when the record was written, else 0.
int ReportOutcomeEvent(const EventSourceHandle& source, std::uint16_t type, std::uint16_t category,
                       std::uint32_t eventId, const std::vector<std::string>& strings);

// Opens a log for reading (its records as they are at this moment); empty when it cannot be read.
// A log nobody has written to yet is open and empty.
EventLogHandle OpenEventLogByName(std::string_view logName);
// The next whole record, oldest first, stepping over damaged bytes and a torn tail; none at the
// end, for a log that is not open and for any direction but forwards.
std::optional<EventRecord> ReadNextEventRecord(EventLogHandle& log, std::uint32_t directionFlag);

// Fields of a record; a record shorter than its fixed part or with another signature has none.
std::uint32_t GetEventRecordTime(const EventRecord& record);  // TimeGenerated, or 0
std::int32_t GetEventRecordId(const EventRecord& record);     // EventID, or 0
std::string GetEventRecordSource(const EventRecord& record);  // or the empty text
// The number of insert strings the record declares; strings receives that many (those that lie
// outside the record are empty). 0 when it has none.
std::size_t GetEventRecordStrings(const EventRecord& record, std::vector<std::string>& strings);
// Insert string number index (from 0), or the empty text.
std::string GetEventRecordString(const EventRecord& record, int index);

void CloseEventHandle(EventSourceHandle& source);
void CloseEventHandle(EventLogHandle& log);

// One line of the history list and the image slot of its kind (0 information, 2 warning,
// 3 anything else).
struct HistoryEntry {
    std::string line;
    int imageSlot = 0;
};

// The history lines of a source's records in a log, newest first: "[yyyy-mm-dd hh:mm:ss] " with
// the generation time in UTC, then the record's first insert string. Empty when the log cannot
// be read.
std::vector<HistoryEntry> ReadEventLogHistory(std::string_view logName,
                                              std::string_view sourceName);

}  // namespace quarnel
