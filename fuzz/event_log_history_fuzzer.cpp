// An arbitrary event log file: walking its records, the history built from it, and a record
// appended to it (damaged bytes stay, a torn tail is cut off; the oldest records go when it is
// full).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/event_log.h"
#include "diagnostics/event_log_store.h"
#include "diagnostics/event_record.h"
#include "fuzz/fuzz_support.h"
#include "platform/paths.h"

namespace quarnel {
namespace {

constexpr std::string_view kLogName = "Application";
constexpr std::string_view kSource = "Quarnel Updater";
// Small, so that appending often has to drop old records.
constexpr std::size_t kBound = 4096;

using Records = std::vector<EventRecord>;

Records WholeRecords(const std::vector<std::uint8_t>& bytes) {
    Records records;
    for (const std::size_t offset : EventRecordOffsets(bytes)) {
        const std::size_t length = EventRecordLengthAt(bytes.data(), bytes.size(), offset);
        records.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                             bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
    }
    return records;
}

// The reader hands out exactly the whole records, stepping over damaged bytes, then nothing.
void CheckWalk(const Records& expected) {
    EventLogHandle log = OpenEventLogByName(kLogName);
    FUZZ_CHECK(static_cast<bool>(log));
    FUZZ_CHECK(!ReadNextEventRecord(log, kEventLogSequentialRead).has_value());
    for (const EventRecord& record : expected) {
        const std::optional<EventRecord> read = ReadNextEventRecord(log, kEventLogForwardsRead);
        FUZZ_CHECK(read.has_value() && *read == record);
    }
    FUZZ_CHECK(!ReadNextEventRecord(log, kEventLogForwardsRead).has_value());
    CloseEventHandle(log);
    FUZZ_CHECK(!ReadNextEventRecord(log, kEventLogForwardsRead).has_value());
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "[yyyy-mm-dd hh:mm:ss] " then the first insert string, newest first, for this source only.
void CheckHistory(const Records& records) {
    const std::vector<HistoryEntry> history = ReadEventLogHistory(kLogName, kSource);
    Records ours;
    for (const EventRecord& record : records) {
        if (GetEventRecordSource(record) == kSource) {
            ours.push_back(record);
        }
    }
    FUZZ_CHECK(history.size() == ours.size());
    std::reverse(ours.begin(), ours.end());
    for (std::size_t i = 0; i < history.size() && i < ours.size(); ++i) {
        const std::string& line = history[i].line;
        FUZZ_CHECK(fuzz::IsValidUtf8(line));
        const std::string_view stamp = std::string_view(line).substr(0, 22);
        FUZZ_CHECK(stamp.size() == 22 && stamp[0] == '[' && stamp[5] == '-' && stamp[8] == '-' &&
                   stamp[11] == ' ' && stamp[14] == ':' && stamp[17] == ':' && stamp[20] == ']' &&
                   stamp[21] == ' ');
        for (const std::size_t at : {1, 2, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19}) {
            FUZZ_CHECK(IsDigit(stamp[at]));
        }
        FUZZ_CHECK(line.substr(22) == GetEventRecordString(ours[i], 0));
        const std::int32_t id = GetEventRecordId(ours[i]);
        const int slot = id == static_cast<std::int32_t>(kEventRecordIdInformation) ? 0
                         : id == static_cast<std::int32_t>(kEventRecordIdWarning)   ? 2
                                                                                    : 3;
        FUZZ_CHECK(history[i].imageSlot == slot);
    }
}

// After an append the file holds a run of the newest old records (all of them when there was
// room), with any damaged bytes between them, and ends in the new record, numbered after the
// last old one, which readers find.
void CheckAppend(const std::string& path, const Records& before, std::string_view text,
                 std::size_t fileSize) {
    EventRecordFields fields;
    fields.timeGenerated = 1700000000;
    fields.timeWritten = fields.timeGenerated;
    fields.eventId = kEventRecordIdInformation;
    fields.eventType = kEventRecordTypeInformation;
    fields.sourceName = std::string(kSource);
    fields.computerName = "fuzz";
    fields.strings = {std::string(text.substr(0, 200)), "good 203.0.113.5"};
    FUZZ_CHECK(AppendEventRecord(path, fields, kBound));

    std::vector<std::uint8_t> after;
    FUZZ_CHECK(ReadEventRecords(path, after));
    FUZZ_CHECK(after.size() <= kBound);
    const Records records = WholeRecords(after);
    const std::vector<std::size_t> offsets = EventRecordOffsets(after);
    FUZZ_CHECK(!offsets.empty() &&
               offsets.back() + EventRecordLengthAt(after.data(), after.size(), offsets.back()) ==
                   after.size());
    FUZZ_CHECK(!records.empty());
    if (records.empty()) {
        return;
    }
    const EventRecord& added = records.back();
    const std::uint32_t number =
        before.empty() ? 1 : ReadLittleEndian32(before.back().data() + 8) + 1;
    FUZZ_CHECK(ReadLittleEndian32(added.data() + 8) == number);
    FUZZ_CHECK(GetEventRecordSource(added) == kSource);
    FUZZ_CHECK(GetEventRecordString(added, 1) == "good 203.0.113.5");
    const std::size_t kept = records.size() - 1;
    FUZZ_CHECK(kept <= before.size());
    FUZZ_CHECK(std::equal(records.begin(), records.end() - 1, before.end() - kept));
    if (fileSize + added.size() <= kBound) {
        FUZZ_CHECK(kept == before.size());
    } else {
        // Appended when the damaged bytes and torn tail left room; else dropping old records
        // makes room for many appends: at most three quarters stay used.
        FUZZ_CHECK(kept == before.size() || after.size() <= kBound - kBound / 4);
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    fuzz::UseTemporaryRoot();
    const std::string path = EventLogFilePath(kLogName);
    static const bool folderMade = CreateFolders(EventLogFolder(), 0755);
    FUZZ_CHECK(folderMade);
    const std::string_view bytes = fuzz::AsText(data, size);
    FUZZ_CHECK(fuzz::WriteFileBytes(path, bytes));

    const Records records = WholeRecords(std::vector<std::uint8_t>(data, data + size));
    CheckWalk(records);
    CheckHistory(records);
    if (size <= kEventLogReadLimit) {
        CheckAppend(path, records, bytes, size);
    }
    return 0;
}
