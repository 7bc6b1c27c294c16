#include "diagnostics/event_record.h"

#include <algorithm>
#include <iterator>

#include "platform/text.h"

namespace quarnel {
namespace {

// Header, two empty names (two bytes each) and the trailing Length.
constexpr std::size_t kSmallestRecord = kEventRecordHeaderSize + 4 + 4;

void Put32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void Put16(std::vector<std::uint8_t>& out, std::size_t offset, std::uint16_t value) {
    out[offset] = static_cast<std::uint8_t>(value);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Appends a text as UTF-16LE with its terminator. A zero byte would end the text early for every
// reader and shift the texts after it, so the text ends there.
void AppendText(std::vector<std::uint8_t>& out, const std::string& text) {
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(text.substr(0, text.find('\0')));
    out.insert(out.end(), units.begin(), units.end());
    out.push_back(0);
    out.push_back(0);
}

void PadToFour(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

}  // namespace

std::uint32_t ReadLittleEndian32(const std::uint8_t* data) {
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) |
           (static_cast<std::uint32_t>(data[3]) << 24);
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* data) {
    return static_cast<std::uint16_t>(data[0] | (data[1] << 8));
}

std::vector<std::uint8_t> BuildEventRecord(const EventRecordFields& fields) {
    if (fields.strings.size() > 0xFFFF) {
        return {};
    }
    std::vector<std::uint8_t> out(kEventRecordHeaderSize, 0);
    AppendText(out, fields.sourceName);
    AppendText(out, fields.computerName);
    PadToFour(out);
    const std::size_t sidOffset = out.size();  // no user identifier: its place, length 0
    const std::size_t stringOffset = out.size();
    for (const std::string& text : fields.strings) {
        AppendText(out, text);
        if (out.size() > kMaximumEventRecordSize) {
            return {};
        }
    }
    const std::size_t dataOffset = out.size();  // no binary data
    PadToFour(out);
    const std::size_t length = out.size() + 4;
    if (length > kMaximumEventRecordSize) {
        return {};
    }
    out.resize(length, 0);
    Put32(out, 0, static_cast<std::uint32_t>(length));
    Put32(out, 4, kEventRecordSignature);
    Put32(out, 8, fields.recordNumber);
    Put32(out, 12, fields.timeGenerated);
    Put32(out, 16, fields.timeWritten);
    Put32(out, 20, fields.eventId);
    Put16(out, 24, fields.eventType);
    Put16(out, 26, static_cast<std::uint16_t>(fields.strings.size()));
    Put16(out, 28, fields.category);
    Put32(out, 36, static_cast<std::uint32_t>(stringOffset));
    Put32(out, 44, static_cast<std::uint32_t>(sidOffset));
    Put32(out, 52, static_cast<std::uint32_t>(dataOffset));
    Put32(out, length - 4, static_cast<std::uint32_t>(length));
    return out;
}

std::size_t EventRecordLengthAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < kSmallestRecord) {
        return 0;
    }
    const std::uint8_t* record = data + offset;
    const std::size_t length = ReadLittleEndian32(record);
    if (length < kSmallestRecord || length > kMaximumEventRecordSize || length % 4 != 0 ||
        length > size - offset) {
        return 0;
    }
    if (ReadLittleEndian32(record + 4) != kEventRecordSignature ||
        ReadLittleEndian32(record + length - 4) != length) {
        return 0;
    }
    return length;
}

std::size_t NextEventRecordAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset >= size) {
        return size;
    }
    if (EventRecordLengthAt(data, size, offset) != 0) {
        return offset;
    }
    // A record's signature follows its Length: look for the next one and check the record there.
    static constexpr std::uint8_t kSignature[] = {'L', 'f', 'L', 'e'};
    std::size_t from = offset + 1 + 4;
    while (from < size) {
        const std::uint8_t* found =
            std::search(data + from, data + size, std::begin(kSignature), std::end(kSignature));
        if (found == data + size) {
            break;
        }
        const std::size_t start = static_cast<std::size_t>(found - data) - 4;
        if (EventRecordLengthAt(data, size, start) != 0) {
            return start;
        }
        from = static_cast<std::size_t>(found - data) + 1;
    }
    return size;
}

std::vector<std::size_t> EventRecordOffsets(const std::vector<std::uint8_t>& data) {
    std::vector<std::size_t> offsets;
    std::size_t offset = NextEventRecordAt(data.data(), data.size(), 0);
    while (offset < data.size()) {
        offsets.push_back(offset);
        offset += EventRecordLengthAt(data.data(), data.size(), offset);
        offset = NextEventRecordAt(data.data(), data.size(), offset);
    }
    return offsets;
}

std::size_t EventLogKeptSize(const std::vector<std::uint8_t>& data,
                             const std::vector<std::size_t>& offsets) {
    const std::size_t end =
        offsets.empty()
            ? 0
            : offsets.back() + EventRecordLengthAt(data.data(), data.size(), offsets.back());
    const std::size_t tail = data.size() - end;
    if (tail == 0) {
        return end;
    }
    const std::uint8_t* start = data.data() + end;
    const bool allZero = std::all_of(start, start + tail, [](std::uint8_t b) { return b == 0; });
    const bool tooShort = tail < kSmallestRecord;
    // A whole record whose Length was damaged still ends in its own size.
    const bool endsLikeARecord = tail >= 4 && ReadLittleEndian32(start + tail - 4) == tail;
    const bool cutShort = tail >= 4 && ReadLittleEndian32(start) > tail && !endsLikeARecord;
    return allZero || tooShort || cutShort ? end : data.size();
}

}  // namespace quarnel
