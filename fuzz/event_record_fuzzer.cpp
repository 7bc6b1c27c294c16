// Event records: the readers over arbitrary record bytes, the record sequence of arbitrary log
// bytes, and records built from arbitrary fields read back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/event_log.h"
#include "diagnostics/event_record.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr std::size_t kHeader = kEventRecordHeaderSize;

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return ReadLittleEndian32(bytes.data() + at);
}

bool IsSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// A text read from offset lies inside the record: its units are the record's (a lone surrogate
// read as U+FFFD), it stops before the limit, and it ends at a terminator or where the limit
// leaves no whole unit. Returns its length in bytes.
std::size_t CheckTextInside(const std::vector<std::uint8_t>& record, std::size_t offset,
                            std::size_t limit, const std::string& text) {
    FUZZ_CHECK(fuzz::IsValidUtf8(text));
    const std::u16string units = Utf8ToUtf16(text);
    const std::size_t bytes = units.size() * 2;
    FUZZ_CHECK(offset + bytes <= limit);
    if (offset + bytes > limit) {
        return bytes;
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto stored =
            static_cast<char16_t>(record[offset + 2 * i] | (record[offset + 2 * i + 1] << 8));
        FUZZ_CHECK(stored != 0);
        FUZZ_CHECK(units[i] == stored || (units[i] == 0xFFFD && IsSurrogate(stored)));
    }
    const std::size_t end = offset + bytes;
    FUZZ_CHECK(end + 1 >= limit || (record[end] == 0 && record[end + 1] == 0));
    return bytes;
}

void CheckReaders(const std::vector<std::uint8_t>& record) {
    const bool valid = record.size() >= kHeader && Le32(record, 4) == kEventRecordSignature;
    std::vector<std::string> strings{"left over"};
    const std::size_t count = GetEventRecordStrings(record, strings);
    FUZZ_CHECK(strings.size() == count);
    if (!valid) {
        FUZZ_CHECK(GetEventRecordTime(record) == 0);
        FUZZ_CHECK(GetEventRecordId(record) == 0);
        FUZZ_CHECK(GetEventRecordSource(record).empty());
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(GetEventRecordString(record, 0).empty());
        return;
    }
    FUZZ_CHECK(GetEventRecordTime(record) == Le32(record, 12));
    FUZZ_CHECK(GetEventRecordId(record) == static_cast<std::int32_t>(Le32(record, 20)));

    // Every read stays within the record's Length and the bytes that are there.
    const std::size_t limit = std::min<std::size_t>(Le32(record, 0), record.size());
    const std::string source = GetEventRecordSource(record);
    if (limit <= kHeader) {
        FUZZ_CHECK(source.empty());
    } else {
        CheckTextInside(record, kHeader, limit, source);
    }

    const std::size_t declared = ReadLittleEndian16(record.data() + 26);
    std::size_t offset = Le32(record, 36);
    FUZZ_CHECK(count == (offset == 0 ? 0 : declared));
    for (std::size_t i = 0; i < count; ++i) {
        if (offset >= limit) {
            FUZZ_CHECK(strings[i].empty());  // declared, but outside the record
            continue;
        }
        offset += CheckTextInside(record, offset, limit, strings[i]) + 2;
    }
    // Each lookup reads all strings again: records that declare thousands get one, so they stay
    // quick to check.
    const std::vector<int> lookups =
        count <= 64 ? std::vector<int>{-1, 0, static_cast<int>(count) - 1, static_cast<int>(count)}
                    : std::vector<int>{static_cast<int>(count) / 2};
    for (const int index : lookups) {
        const std::string expected =
            index >= 0 && static_cast<std::size_t>(index) < count ? strings[index] : "";
        FUZZ_CHECK(GetEventRecordString(record, index) == expected);
    }
}

// The records of log bytes: each whole, in order, none overlapping the one before, and damaged
// bytes between them stepped over only up to the next place where a whole record starts.
void CheckSequence(const std::vector<std::uint8_t>& log) {
    const std::vector<std::size_t> offsets = EventRecordOffsets(log);
    std::size_t expected = 0;
    for (const std::size_t offset : offsets) {
        FUZZ_CHECK(offset >= expected);
        for (std::size_t skipped = expected; skipped < offset; ++skipped) {
            FUZZ_CHECK(EventRecordLengthAt(log.data(), log.size(), skipped) == 0);
        }
        const std::size_t length = EventRecordLengthAt(log.data(), log.size(), offset);
        FUZZ_CHECK(length >= kHeader + 8 && length % 4 == 0 && offset + length <= log.size());
        FUZZ_CHECK(Le32(log, offset) == length && Le32(log, offset + length - 4) == length);
        expected = offset + length;
    }
    for (std::size_t skipped = expected; skipped < log.size(); ++skipped) {
        FUZZ_CHECK(EventRecordLengthAt(log.data(), log.size(), skipped) == 0);
    }
    FUZZ_CHECK(EventRecordLengthAt(log.data(), log.size(), log.size() + 1) == 0);
}

// The text a record gives back for a field: cut at a zero byte, invalid bytes as U+FFFD.
std::string AsStored(std::string_view text) {
    return Utf16ToUtf8(Utf8ToUtf16(text.substr(0, text.find('\0'))));
}

// Fields taken from the input: five numbers, then texts separated by 0xFF bytes (source,
// computer, insert strings).
void CheckBuiltRecord(const std::uint8_t* data, std::size_t size) {
    if (size < 16) {
        return;
    }
    EventRecordFields fields;
    fields.recordNumber = ReadLittleEndian32(data);
    fields.timeGenerated = ReadLittleEndian32(data + 4);
    fields.timeWritten = fields.timeGenerated ^ 0x5A5A5A5Au;
    fields.eventId = ReadLittleEndian32(data + 8);
    fields.eventType = ReadLittleEndian16(data + 12);
    fields.category = ReadLittleEndian16(data + 14);
    const auto texts = SplitText(fuzz::AsText(data + 16, size - 16), '\xFF');
    fields.sourceName = std::string(texts[0]);
    fields.computerName = texts.size() > 1 ? std::string(texts[1]) : std::string();
    for (std::size_t i = 2; i < texts.size(); ++i) {
        fields.strings.emplace_back(texts[i]);
    }

    // Without its padding (at most six bytes) a record is the header, each text with its
    // terminator, and the final Length.
    const auto textBytes = [](const std::string& text) {
        return 2 * (Utf8ToUtf16(AsStored(text)).size() + 1);
    };
    std::size_t unpadded =
        kHeader + textBytes(fields.sourceName) + textBytes(fields.computerName) + 4;
    for (const std::string& text : fields.strings) {
        unpadded += textBytes(text);
    }

    const std::vector<std::uint8_t> record = BuildEventRecord(fields);
    if (record.empty()) {
        // Only a record above the size bound is refused.
        FUZZ_CHECK(fields.strings.size() > 0xFFFF || unpadded + 6 > kMaximumEventRecordSize);
        return;
    }
    FUZZ_CHECK(record.size() >= unpadded && record.size() <= unpadded + 6);
    FUZZ_CHECK(record.size() <= kMaximumEventRecordSize);
    FUZZ_CHECK(EventRecordLengthAt(record.data(), record.size(), 0) == record.size());
    FUZZ_CHECK(Le32(record, 8) == fields.recordNumber);
    FUZZ_CHECK(Le32(record, 16) == fields.timeWritten);
    FUZZ_CHECK(ReadLittleEndian16(record.data() + 24) == fields.eventType);
    FUZZ_CHECK(ReadLittleEndian16(record.data() + 28) == fields.category);
    FUZZ_CHECK(GetEventRecordTime(record) == fields.timeGenerated);
    FUZZ_CHECK(GetEventRecordId(record) == static_cast<std::int32_t>(fields.eventId));
    FUZZ_CHECK(GetEventRecordSource(record) == AsStored(fields.sourceName));
    std::vector<std::string> strings;
    FUZZ_CHECK(GetEventRecordStrings(record, strings) == fields.strings.size());
    FUZZ_CHECK(strings.size() == fields.strings.size());
    for (std::size_t i = 0; i < strings.size() && i < fields.strings.size(); ++i) {
        FUZZ_CHECK(strings[i] == AsStored(fields.strings[i]));
    }
    CheckReaders(record);
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::vector<std::uint8_t> bytes(data, data + size);
    CheckReaders(bytes);
    CheckSequence(bytes);
    CheckBuiltRecord(data, size);
    return 0;
}
