#include "diagnostics/event_log_store.h"

#include <cstdint>

#include "platform/event_log_file.h"
#include "platform/paths.h"

namespace quarnel {
namespace {

// Whether a reader walking damaged bytes kept at [from, end) finds record right after them: the
// damaged bytes and the record's first bytes must not look like one record that hides it.
bool ReadersFindRecordAfter(const std::vector<std::uint8_t>& contents, std::size_t from,
                            std::size_t end, const std::vector<std::uint8_t>& record) {
    if (from == end) {
        return true;
    }
    std::vector<std::uint8_t> tail(contents.begin() + static_cast<std::ptrdiff_t>(from),
                                   contents.begin() + static_cast<std::ptrdiff_t>(end));
    const std::size_t kept = tail.size();
    tail.insert(tail.end(), record.begin(), record.end());
    std::size_t offset = NextEventRecordAt(tail.data(), tail.size(), 0);
    while (offset < kept) {
        offset += EventRecordLengthAt(tail.data(), tail.size(), offset);
        offset = NextEventRecordAt(tail.data(), tail.size(), offset);
    }
    return offset == kept;
}

}  // namespace

std::string EventLogFilePath(std::string_view logName) {
    if (logName.empty() || logName.size() > 64 || logName.front() == '.') {
        return {};
    }
    for (const char c : logName) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '_' || c == '.';
        if (!allowed) {
            return {};
        }
    }
    return EventLogFolder() + "/" + std::string(logName) + ".evt";
}

bool AppendEventRecord(const std::string& path, EventRecordFields fields, std::size_t maxBytes) {
    bool fits = true;
    const bool written =
        EditEventLogFile(path, kEventLogReadLimit, [&](const std::vector<std::uint8_t>& contents) {
            EventLogFileEdit edit;
            const std::vector<std::size_t> offsets = EventRecordOffsets(contents);
            fields.recordNumber =
                offsets.empty() ? 1 : ReadLittleEndian32(contents.data() + offsets.back() + 8) + 1;
            const std::vector<std::uint8_t> record = BuildEventRecord(fields);
            if (record.empty() || record.size() > maxBytes) {
                fits = false;
                return edit;
            }
            // Damaged records stay where they are; only a torn tail goes.
            const std::size_t lastEnd =
                offsets.empty()
                    ? 0
                    : offsets.back() +
                          EventRecordLengthAt(contents.data(), contents.size(), offsets.back());
            std::size_t end = EventLogKeptSize(contents, offsets);
            if (!ReadersFindRecordAfter(contents, lastEnd, end, record)) {
                end = lastEnd;
            }
            if (end + record.size() <= maxBytes) {
                edit.kind = EventLogFileEdit::Kind::Append;
                edit.keep = end;
                edit.bytes = record;
                return edit;
            }
            // Dropping to three quarters leaves room for many appends before the next rewrite.
            const std::size_t target = maxBytes - maxBytes / 4;
            std::size_t first = 0;
            while (first < offsets.size() && end - offsets[first] + record.size() > target) {
                ++first;
            }
            const std::size_t from = first < offsets.size() ? offsets[first] : end;
            edit.kind = EventLogFileEdit::Kind::Replace;
            edit.bytes.assign(contents.begin() + static_cast<std::ptrdiff_t>(from),
                              contents.begin() + static_cast<std::ptrdiff_t>(end));
            edit.bytes.insert(edit.bytes.end(), record.begin(), record.end());
            return edit;
        });
    return written && fits;
}

bool ReadEventRecords(const std::string& path, std::vector<std::uint8_t>& contents) {
    return ReadEventLogFile(path, kEventLogReadLimit, contents);
}

}  // namespace quarnel
