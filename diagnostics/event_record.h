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

// The start of each whole record from the beginning of data, up to the first that is not whole
// (a torn or damaged tail ends the sequence).
std::vector<std::size_t> EventRecordOffsets(const std::vector<std::uint8_t>& data);

std::uint32_t ReadLittleEndian32(const std::uint8_t* data);
std::uint16_t ReadLittleEndian16(const std::uint8_t* data);

}  // namespace quarnel
