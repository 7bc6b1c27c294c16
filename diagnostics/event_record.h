#pragma once

// The byte layout of an event record, as the event log stores it and hands it to readers:
//   0 Length, 4 signature "LfLe", 8 RecordNumber, 12 TimeGenerated, 16 TimeWritten (seconds
//   since 1970 UTC), 20 EventID, 24 EventType (16 bits), 26 NumStrings (16), 28 EventCategory
//   (16), 30 reserved flags (16), 32 ClosingRecordNumber, 36 StringOffset, 40 UserSidLength,
//   44 UserSidOffset, 48 DataLength, 52 DataOffset, all 32-bit little-endian; at 56 the source
//   name and the computer name (UTF-16LE, each with its terminator), the insert strings
//   (UTF-16LE, each with its terminator) at StringOffset, padding to 4 bytes, and Length again
//   as the last four bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

inline constexpr std::uint32_t kEventRecordSignature = 0x654C664C;  // "LfLe"
inline constexpr std::size_t kEventRecordHeaderSize = 56;
// The longest record the log takes: longer ones are not written, and a Length above it is
// damage.
inline constexpr std::size_t kMaximumEventRecordSize = 0x10000;

struct EventRecordFields {
    std::uint32_t recordNumber = 0;
    std::uint32_t timeGenerated = 0;
    std::uint32_t timeWritten = 0;
    std::uint32_t eventId = 0;
    std::uint16_t eventType = 0;
    std::uint16_t category = 0;
    std::string sourceName;
    std::string computerName;
    std::vector<std::string> strings;  // UTF-8; each is cut at a zero byte, which ends it
};

// The bytes of one record; empty when it would be longer than kMaximumEventRecordSize.
std::vector<std::uint8_t> BuildEventRecord(const EventRecordFields& fields);

// The length of the whole record that starts at offset, or 0 when none does there: its Length
// must be a multiple of 4 between the smallest record and kMaximumEventRecordSize, lie within
// size, and be repeated at the record's end, and the signature must match.
std::size_t EventRecordLengthAt(const std::uint8_t* data, std::size_t size, std::size_t offset);

// The start of the first whole record at or after offset: at offset itself, else at the next
// place whose signature begins a whole record (so damaged bytes are stepped over); size when
// there is none.
std::size_t NextEventRecordAt(const std::uint8_t* data, std::size_t size, std::size_t offset);

// The start of every whole record in data, oldest first, stepping over damaged bytes between them.
std::vector<std::size_t> EventRecordOffsets(const std::vector<std::uint8_t>& data);

// How many bytes of a log's data a writer keeps before appending: everything, but for a torn
// tail behind the last whole record (the beginning of a record that an interrupted append left:
// shorter than the Length it starts with and not ending in its own size, too short to hold one, or
// nothing but zero bytes, which a crash can leave in a file's newest block). Damaged bytes that
// are no such tail stay in place.
std::size_t EventLogKeptSize(const std::vector<std::uint8_t>& data,
                             const std::vector<std::size_t>& offsets);

std::uint32_t ReadLittleEndian32(const std::uint8_t* data);
std::uint16_t ReadLittleEndian16(const std::uint8_t* data);

}  // namespace quarnel
