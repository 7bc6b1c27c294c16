#include "diagnostics/event_log_store.h"

#include "platform/event_log_file.h"
#include "platform/paths.h"

namespace quarnel {

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
            std::size_t end = 0;
            if (!offsets.empty()) {
                const std::size_t last = offsets.back();
                end = last + EventRecordLengthAt(contents.data(), contents.size(), last);
                fields.recordNumber = ReadLittleEndian32(contents.data() + last + 8) + 1;
            } else {
                fields.recordNumber = 1;
            }
            const std::vector<std::uint8_t> record = BuildEventRecord(fields);
            if (record.empty() || record.size() > maxBytes) {
                fits = false;
                return edit;
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
