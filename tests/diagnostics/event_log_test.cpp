// The event log on a temporary root: the record layout, the reader, the history lines, damaged
// files, the size bound, concurrent and killed writers, and the system log copy.

#include "diagnostics/event_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/event_log_store.h"
#include "diagnostics/event_message.h"
#include "diagnostics/event_record.h"
#include "platform/event_log_file.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "resources/texts.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr const char* kSource = "Quarnel Updater";

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Utf16(const std::string& text) {
    std::vector<std::uint8_t> bytes = Utf8ToUtf16LeBytes(text);
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

bool HasBytesAt(const std::vector<std::uint8_t>& data, std::size_t offset,
                const std::vector<std::uint8_t>& expected) {
    return offset + expected.size() <= data.size() &&
           std::equal(expected.begin(), expected.end(), data.begin() + offset);
}

EventRecordFields Fields(std::string source, std::uint32_t time, std::uint32_t id,
                         std::vector<std::string> strings) {
    EventRecordFields fields;
    fields.sourceName = std::move(source);
    fields.computerName = "host";
    fields.timeGenerated = time;
    fields.timeWritten = time;
    fields.eventId = id;
    fields.eventType = 4;
    fields.strings = std::move(strings);
    return fields;
}

// The record numbers and first insert strings of every record a reader sees.
std::vector<std::pair<std::uint32_t, std::string>> Walk() {
    std::vector<std::pair<std::uint32_t, std::string>> seen;
    EventLogHandle log = OpenEventLogByName("Application");
    while (const auto record = ReadNextEventRecord(log, kEventLogForwardsRead)) {
        seen.emplace_back(ReadLittleEndian32(record->data() + 8), GetEventRecordString(*record, 0));
    }
    return seen;
}

class EventLog : public ::testing::Test {
  protected:
    test::TemporaryFolder root_;
    test::ScopedEnvironment rootVariable_{"QUARNEL_ROOT", root_.Path()};
    std::string Path() const { return EventLogFilePath("Application"); }
};

TEST_F(EventLog, AReportedOutcomeIsStoredInTheRecordLayoutAndReadBack) {
    EXPECT_EQ(Path(), root_.Path() + "/var/lib/quarnel-updater/eventlog/Application.evt");
    const auto before = static_cast<std::uint32_t>(::time(nullptr));
    EventSourceHandle source = OpenEventSource(kSource);
    ASSERT_TRUE(source);
    EXPECT_EQ(ReportOutcomeEvent(source, kEventRecordTypeInformation, 0, kEventRecordIdInformation,
                                 {"good 198.51.100.7"}),
              1);
    CloseEventHandle(source);
    EXPECT_FALSE(source);
    const auto after = static_cast<std::uint32_t>(::time(nullptr));

    const std::vector<std::uint8_t> file = ReadBytes(Path());
    ASSERT_GE(file.size(), 64u);
    const std::uint32_t length = ReadLittleEndian32(file.data());
    EXPECT_EQ(length, file.size());
    EXPECT_EQ(length % 4, 0u);
    EXPECT_EQ(ReadLittleEndian32(file.data() + 4), 0x654C664Cu);
    EXPECT_EQ(std::string(file.begin() + 4, file.begin() + 8), "LfLe");
    EXPECT_EQ(ReadLittleEndian32(file.data() + 8), 1u);  // record number
    const std::uint32_t generated = ReadLittleEndian32(file.data() + 12);
    EXPECT_GE(generated, before);
    EXPECT_LE(generated, after);
    EXPECT_EQ(ReadLittleEndian32(file.data() + 16), generated);
    EXPECT_EQ(ReadLittleEndian32(file.data() + 20), 0x40000064u);
    EXPECT_EQ(ReadLittleEndian16(file.data() + 24), 4u);  // type
    EXPECT_EQ(ReadLittleEndian16(file.data() + 26), 1u);  // one insert string
    EXPECT_EQ(ReadLittleEndian16(file.data() + 28), 0u);  // category
    EXPECT_EQ(ReadLittleEndian32(file.data() + 40), 0u);  // no user identifier
    EXPECT_EQ(ReadLittleEndian32(file.data() + 48), 0u);  // no binary data
    EXPECT_TRUE(HasBytesAt(file, 56, Utf16(kSource)));
    const std::uint32_t strings = ReadLittleEndian32(file.data() + 36);
    EXPECT_TRUE(HasBytesAt(file, strings, Utf16("good 198.51.100.7")));
    EXPECT_EQ(ReadLittleEndian32(file.data() + file.size() - 4), length);

    struct stat info = {};
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);  // every user reads the history

    EventLogHandle log = OpenEventLogByName("Application");
    ASSERT_TRUE(log);
    const auto record = ReadNextEventRecord(log, kEventLogForwardsRead);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, file);
    EXPECT_EQ(GetEventRecordSource(*record), kSource);
    EXPECT_EQ(GetEventRecordTime(*record), generated);
    EXPECT_EQ(GetEventRecordId(*record), 0x40000064);
    std::vector<std::string> texts;
    EXPECT_EQ(GetEventRecordStrings(*record, texts), 1u);
    EXPECT_EQ(texts, std::vector<std::string>{"good 198.51.100.7"});
    EXPECT_EQ(GetEventRecordString(*record, 1), "");
    EXPECT_EQ(GetEventRecordString(*record, -1), "");
    EXPECT_FALSE(ReadNextEventRecord(log, kEventLogForwardsRead));

    source = OpenEventSource(kSource);
    EXPECT_EQ(
        ReportOutcomeEvent(source, kEventRecordTypeError, 0, kEventRecordIdError, {"!noauth"}), 1);
    const auto seen = Walk();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::make_pair(2u, std::string("!noauth")));
}

TEST_F(EventLog, HistoryListsTheSourcesRecordsNewestFirstInUtcWithTheirImageSlots) {
    // A zone east of UTC must not move the times shown.
    const test::ScopedEnvironment zone("TZ", "CET-1");
    ::tzset();
    const std::uint32_t noon = 1700000000;  // 2023-11-14 22:13:20 UTC
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, noon, 0x40000064, {"good 1.2.3.4"}),
                                  kEventLogMaximumBytes));
    ASSERT_TRUE(AppendEventRecord(Path(), Fields("Other Source", noon + 1, 0xC0000066, {"x"}),
                                  kEventLogMaximumBytes));
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, noon + 60, 0x80000065, {"911"}),
                                  kEventLogMaximumBytes));
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, noon + 3600, 0xC0000066, {"badauth"}),
                                  kEventLogMaximumBytes));
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, noon + 3601, 0x00000001, {}),
                                  kEventLogMaximumBytes));
    // The source comparison is exact.
    ASSERT_TRUE(AppendEventRecord(Path(), Fields("quarnel updater", noon + 2, 0x40000064, {"y"}),
                                  kEventLogMaximumBytes));

    const std::vector<HistoryEntry> history = ReadEventLogHistory("Application", kSource);
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[0].line, "[2023-11-14 23:13:21] ");  // no insert string: only the time
    EXPECT_EQ(history[0].imageSlot, 3);
    EXPECT_EQ(history[1].line, "[2023-11-14 23:13:20] badauth");
    EXPECT_EQ(history[1].imageSlot, 3);
    EXPECT_EQ(history[2].line, "[2023-11-14 22:14:20] 911");
    EXPECT_EQ(history[2].imageSlot, 2);
    EXPECT_EQ(history[3].line, "[2023-11-14 22:13:20] good 1.2.3.4");
    EXPECT_EQ(history[3].imageSlot, 0);
}

TEST_F(EventLog, OtherSourcesOnlyOrNoLogAtAllGiveAnEmptyHistory) {
    EXPECT_TRUE(OpenEventLogByName("Application"));  // nothing written yet: open and empty
    EXPECT_TRUE(ReadEventLogHistory("Application", kSource).empty());
    ASSERT_TRUE(
        AppendEventRecord(Path(), Fields("Other", 5, 0x40000064, {"good"}), kEventLogMaximumBytes));
    EXPECT_TRUE(ReadEventLogHistory("Application", kSource).empty());
    EXPECT_FALSE(OpenEventLogByName("../Application"));
    EXPECT_FALSE(OpenEventLogByName(""));
    EXPECT_FALSE(OpenEventSource(""));
    EXPECT_EQ(ReportOutcomeEvent(EventSourceHandle(), 4, 0, kEventRecordIdInformation, {"x"}), 0);
    EventLogHandle log = OpenEventLogByName("Application");
    EXPECT_FALSE(ReadNextEventRecord(log, 8));  // backwards is not offered
}

TEST_F(EventLog, ATornTailEndsTheWalkAndTheNextWriterCutsItOff) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 10, 0x40000064, {"r"}),
                                      kEventLogMaximumBytes));
    }
    std::vector<std::uint8_t> file = ReadBytes(Path());
    const std::vector<std::uint8_t> whole = file;
    const std::vector<std::uint8_t> next =
        BuildEventRecord(Fields(kSource, 11, 0x40000064, {"half written"}));
    file.insert(file.end(), next.begin(), next.begin() + static_cast<long>(next.size() / 2));
    WriteBytes(Path(), file);
    EXPECT_EQ(Walk().size(), 3u);
    EXPECT_EQ(ReadEventLogHistory("Application", kSource).size(), 3u);

    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 12, 0x40000064, {"after"}),
                                  kEventLogMaximumBytes));
    const auto seen = Walk();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3], std::make_pair(4u, std::string("after")));
    // The half record is gone: the file is the old records and the new one, nothing between.
    const std::vector<std::uint8_t> repaired = ReadBytes(Path());
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), repaired.begin()));
    EXPECT_EQ(ReadLittleEndian32(repaired.data() + whole.size()), repaired.size() - whole.size());
}

struct Damage {
    const char* what;
    std::size_t record;  // which record (from 0) is hit
    std::size_t offset;  // where in it (from its end when fromEnd)
    std::uint8_t flip;   // the bits flipped there
    bool fromEnd = false;
};

constexpr Damage kDamages[] = {
    {"signature", 1, 4, 0x01},
    {"length beyond the file", 1, 2, 0x40},
    {"length not a multiple of four", 1, 0, 0x01},
    {"length too small", 1, 0, 0x80},
    {"trailing length", 1, 4, 0x10, true},
    {"signature of the last record", 4, 5, 0x02},
    {"length of the last record", 4, 3, 0x80},
};

// Five records "r0" ... "r4", then one damage; the offsets of the records before the damage.
std::vector<std::uint8_t> FiveRecordsWith(const std::string& path, const Damage& damage) {
    ::unlink(path.c_str());
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(AppendEventRecord(path,
                                      Fields(kSource, 10, 0x40000064, {"r" + std::to_string(i)}),
                                      kEventLogMaximumBytes));
    }
    std::vector<std::uint8_t> file = ReadBytes(path);
    const std::vector<std::size_t> offsets = EventRecordOffsets(file);
    EXPECT_EQ(offsets.size(), 5u);
    const std::size_t start = offsets[damage.record];
    const std::size_t length = ReadLittleEndian32(file.data() + start);
    file[damage.fromEnd ? start + length - damage.offset : start + damage.offset] ^= damage.flip;
    WriteBytes(path, file);
    return file;
}

std::vector<std::pair<std::uint32_t, std::string>> RecordsWithout(std::size_t damaged) {
    std::vector<std::pair<std::uint32_t, std::string>> records;
    for (std::uint32_t i = 0; i < 5; ++i) {
        if (i != damaged) {
            records.emplace_back(i + 1, "r" + std::to_string(i));
        }
    }
    return records;
}

TEST_F(EventLog, ADamagedRecordIsSkippedAndTheRecordsAfterItAreRead) {
    for (const Damage& damage : kDamages) {
        FiveRecordsWith(Path(), damage);
        EXPECT_EQ(Walk(), RecordsWithout(damage.record)) << damage.what;
        EXPECT_EQ(ReadEventLogHistory("Application", kSource).size(), 4u) << damage.what;
    }
}

TEST_F(EventLog, AnAppendKeepsADamagedRecordInPlaceAndEveryRecordAfterIt) {
    for (const Damage& damage : kDamages) {
        const std::vector<std::uint8_t> damaged = FiveRecordsWith(Path(), damage);
        ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 11, 0x40000064, {"after"}),
                                      kEventLogMaximumBytes));
        const std::vector<std::uint8_t> file = ReadBytes(Path());
        ASSERT_GT(file.size(), damaged.size()) << damage.what;
        EXPECT_TRUE(std::equal(damaged.begin(), damaged.end(), file.begin())) << damage.what;
        auto expected = RecordsWithout(damage.record);
        // Numbering goes on from the last whole record.
        expected.emplace_back(damage.record == 4 ? 5u : 6u, "after");
        EXPECT_EQ(Walk(), expected) << damage.what;
        if (&damage == &kDamages[0]) {
            std::printf(
                "[ figure ] one flipped bit in record 2 of 5, then an append: %zu records "
                "readable (the 4 undamaged ones and the new one), damaged bytes kept\n",
                Walk().size());
        }
    }
    // A rewrite for the size bound keeps them too.
    const std::vector<std::uint8_t> damaged = FiveRecordsWith(Path(), kDamages[0]);
    ASSERT_TRUE(
        AppendEventRecord(Path(), Fields(kSource, 11, 0x40000064, {"after"}), damaged.size() + 8));
    const auto seen = Walk();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::make_pair(6u, std::string("after")));
}

TEST(EventRecordFields, ReadsStayInsideTheRecordWhateverItsFieldsSay) {
    const std::vector<std::uint8_t> good =
        BuildEventRecord(Fields(kSource, 99, 0x80000065, {"first", "second"}));
    auto exact = [](std::vector<std::uint8_t> bytes) {
        bytes.shrink_to_fit();  // reads beyond the end hit the allocation's end
        return bytes;
    };
    auto patched = [&](std::size_t offset, std::uint32_t value, int width) {
        std::vector<std::uint8_t> bytes = good;
        for (int i = 0; i < width; ++i) {
            bytes.at(offset + static_cast<std::size_t>(i)) =
                static_cast<std::uint8_t>(value >> (8 * i));
        }
        return exact(bytes);
    };
    std::vector<std::string> strings;

    EXPECT_EQ(GetEventRecordStrings(exact(good), strings), 2u);
    EXPECT_EQ(strings, (std::vector<std::string>{"first", "second"}));

    // Insert strings said to start beyond the record, or more of them than there are.
    EXPECT_EQ(GetEventRecordStrings(patched(36, 0xFFFFFFF0, 4), strings), 2u);
    EXPECT_EQ(strings, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(GetEventRecordStrings(patched(26, 0xFFFF, 2), strings), 0xFFFFu);
    EXPECT_EQ(strings[1], "second");
    EXPECT_EQ(strings[2], "");
    EXPECT_EQ(GetEventRecordString(patched(36, 0, 4), 0), "");

    // A Length larger than the bytes at hand, and texts without terminators up to the end.
    std::vector<std::uint8_t> unterminated = patched(0, 0x7FFFFFFF, 4);
    std::fill(unterminated.begin() + 56, unterminated.end(), 0x41);
    EXPECT_FALSE(GetEventRecordSource(unterminated).empty());
    EXPECT_EQ(GetEventRecordStrings(unterminated, strings), 2u);
    EXPECT_EQ(GetEventRecordString(patched(0, 40, 4), 0), "");  // Length inside the fixed part
    EXPECT_EQ(GetEventRecordSource(patched(0, 56, 4)), "");

    // Too short for the fixed part, or another signature: no fields at all.
    const std::vector<std::uint8_t> shortRecord = exact({good.begin(), good.begin() + 40});
    EXPECT_EQ(GetEventRecordTime(shortRecord), 0u);
    EXPECT_EQ(GetEventRecordId(shortRecord), 0);
    EXPECT_EQ(GetEventRecordSource(shortRecord), "");
    EXPECT_EQ(GetEventRecordStrings(shortRecord, strings), 0u);
    const std::vector<std::uint8_t> foreign = patched(4, 0x12345678, 4);
    EXPECT_EQ(GetEventRecordTime(foreign), 0u);
    EXPECT_EQ(GetEventRecordString(foreign, 0), "");
    EXPECT_EQ(GetEventRecordId(patched(20, 0xC0000066, 4)), static_cast<std::int32_t>(0xC0000066));

    // A zero byte inside an insert string ends it rather than shifting the next one.
    EXPECT_EQ(GetEventRecordString(
                  BuildEventRecord(Fields(kSource, 1, 1, {std::string("a\0b", 3), "c"})), 1),
              "c");
    EXPECT_TRUE(BuildEventRecord(Fields(kSource, 1, 1, {std::string(40000, 'x')})).empty());
}

TEST_F(EventLog, TheSizeBoundDropsTheOldestRecordsWhole) {
    constexpr std::size_t kBound = 4096;
    for (int i = 1; i <= 200; ++i) {
        ASSERT_TRUE(AppendEventRecord(
            Path(), Fields(kSource, static_cast<std::uint32_t>(i), 0x40000064, {std::to_string(i)}),
            kBound));
        ASSERT_LE(ReadBytes(Path()).size(), kBound);
    }
    const std::vector<std::uint8_t> file = ReadBytes(Path());
    const std::vector<std::size_t> offsets = EventRecordOffsets(file);
    ASSERT_FALSE(offsets.empty());
    EXPECT_EQ(offsets.back() + ReadLittleEndian32(file.data() + offsets.back()), file.size());
    const auto seen = Walk();
    ASSERT_GT(seen.size(), 10u);
    ASSERT_LT(seen.size(), 200u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const std::uint32_t number = 200 - static_cast<std::uint32_t>(seen.size() - 1 - i);
        EXPECT_EQ(seen[i], std::make_pair(number, std::to_string(number)));
    }
    // A leftover of a writer killed while rewriting is cleared by the next writer; its own
    // rewrite leaves nothing behind either.
    std::ofstream(Path() + ".Ab12Cd") << "partial";
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 201, 0x40000064, {"201"}), kBound));
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 202, 0x40000064, {"202"}), kBound));
    EXPECT_EQ(test::ListFolder(root_.Path() + "/var/lib/quarnel-updater/eventlog"),
              (std::vector<std::string>{"Application.evt", "Application.evt.lock"}));
    // A record that can never fit is refused without touching the log.
    const std::vector<std::uint8_t> before = ReadBytes(Path());
    EXPECT_FALSE(
        AppendEventRecord(Path(), Fields(kSource, 1, 1, {std::string(5000, 'x')}), kBound));
    EXPECT_EQ(ReadBytes(Path()), before);
}

// Appends count records "<tag> <n>" as a child process would.
int AppendMany(const std::string& path, const std::string& tag, int count, std::size_t bound) {
    for (int i = 0; i < count; ++i) {
        if (!AppendEventRecord(
                path, Fields(kSource, 1, 0x40000064, {tag + " " + std::to_string(i)}), bound)) {
            return 1;
        }
    }
    return 0;
}

TEST_F(EventLog, TwoProcessesAppendingAtOnceLeaveEveryRecordWholeAndInOrder) {
    for (const std::size_t bound : {kEventLogMaximumBytes, std::size_t{6000}}) {
        ::unlink(Path().c_str());
        const std::string path = Path();
        // Both writers start before either is waited for; each is its own process.
        pid_t writers[2];
        for (int w = 0; w < 2; ++w) {
            writers[w] = ::fork();
            ASSERT_GE(writers[w], 0);
            if (writers[w] == 0) {
                ::_exit(AppendMany(path, w == 0 ? "a" : "b", 150, bound));
            }
        }
        for (const pid_t writer : writers) {
            int status = -1;
            ASSERT_EQ(::waitpid(writer, &status, 0), writer);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }

        const auto seen = Walk();
        if (bound == kEventLogMaximumBytes) {
            EXPECT_EQ(seen.size(), 300u);
        }
        const std::vector<std::uint8_t> file = ReadBytes(Path());
        const std::vector<std::size_t> offsets = EventRecordOffsets(file);
        ASSERT_EQ(offsets.size(), seen.size());
        EXPECT_EQ(offsets.back() + ReadLittleEndian32(file.data() + offsets.back()), file.size());
        int next[2] = {-1, -1};
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (i > 0) {
                EXPECT_EQ(seen[i].first, seen[i - 1].first + 1);  // numbers without gaps
            }
            const int writer = seen[i].second[0] == 'a' ? 0 : 1;
            const int n = std::stoi(seen[i].second.substr(2));
            EXPECT_GT(n, next[writer]) << "each writer's records keep their order";
            next[writer] = n;
        }
        EXPECT_EQ(seen.back().first, 300u);
    }
}

TEST_F(EventLog, AWriterKilledAtAnyMomentLeavesAReadableLog) {
    const std::string path = Path();
    constexpr std::size_t kBound = 8192;  // rewrites happen often too
    for (int round = 0; round < 4; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                AppendEventRecord(path, Fields(kSource, 1, 0x40000064, {std::to_string(i)}),
                                  kBound);
            }
        }
        // Let it write for a while (bounded), then kill it mid-flight.
        for (int wait = 0; wait < 400 && Walk().size() < 20; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + round * 7));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const auto seen = Walk();
        ASSERT_FALSE(seen.empty());
        for (std::size_t i = 1; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].first, seen[i - 1].first + 1);
        }
        ASSERT_TRUE(AppendEventRecord(path, Fields(kSource, 1, 0x40000064, {"survivor"}), kBound));
        const auto after = Walk();
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after.back(), std::make_pair(seen.back().first + 1, std::string("survivor")));
        // A rewrite cut short leaves a temporary file; the next writer removes it.
        EXPECT_EQ(test::ListFolder(root_.Path() + "/var/lib/quarnel-updater/eventlog"),
                  (std::vector<std::string>{"Application.evt", "Application.evt.lock"}));
    }
}

// A process of another user that holds an exclusive flock on a file it can read, as any user
// can do with the world-readable log, until the test ends.
class ForeignLock {
  public:
    explicit ForeignLock(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const int fd = test::BecomeUser(test::kNobodyUser)
                               ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                               : -1;
            const char state = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
            (void)::write(ready[1], &state, 1);
            ::sleep(60);  // bounded; stopped by the test long before
            ::_exit(0);
        }
        ::close(ready[1]);
        char state = '0';
        held_ = pid_ > 0 && ::read(ready[0], &state, 1) == 1 && state == '1';
        ::close(ready[0]);
    }
    ~ForeignLock() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Held() const { return held_; }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

double AppendMilliseconds(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const bool written =
        AppendEventRecord(path, Fields(kSource, 1, 0x40000064, {"timed"}), kEventLogMaximumBytes);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return written ? took.count() : -1;
}

TEST_F(EventLog, AnotherUsersLockOnTheLogHoldsUpNeitherWritersNorReaders) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    ASSERT_TRUE(
        AppendEventRecord(Path(), Fields(kSource, 0, 0x40000064, {"good"}), kEventLogMaximumBytes));
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    const double unlocked = AppendMilliseconds(Path());
    const ForeignLock lock(Path());
    ASSERT_TRUE(lock.Held());
    // In a child with a time limit: a writer or reader waiting for that lock would never end.
    const std::string path = Path();
    EXPECT_EQ(test::RunInForkedChild(
                  [&path] {
                      const bool written = AppendEventRecord(
                          path, Fields(kSource, 2, 0x40000064, {"x"}), kEventLogMaximumBytes);
                      return written && ReadEventLogHistory("Application", kSource).size() == 3 ? 0
                                                                                                : 1;
                  },
                  std::nullopt, 10000),
              0);
    std::printf(
        "[ figure ] an append while another user holds a lock on the log: %.2f ms "
        "(without that lock: %.2f ms)\n",
        AppendMilliseconds(Path()), unlocked);
}

TEST_F(EventLog, WritersWaitABoundedTimeForEachOtherAndThenDropTheRecord) {
    ASSERT_TRUE(
        AppendEventRecord(Path(), Fields(kSource, 0, 0x40000064, {"one"}), kEventLogMaximumBytes));
    struct stat info = {};
    ASSERT_EQ(::stat(EventLogLockPath(Path()).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);  // no reader can open it, so none can hold it

    // Another writer holds the writers' lock: the append gives up, readers go on reading.
    UniqueFd other(::open(EventLogLockPath(Path()).c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(other);
    ASSERT_EQ(::flock(other.Get(), LOCK_EX), 0);
    const std::vector<std::uint8_t> before = ReadBytes(Path());
    const std::string path = Path();
    EXPECT_EQ(test::RunInForkedChild(
                  [&path] {
                      return AppendEventRecord(path, Fields(kSource, 1, 0x40000064, {"two"}),
                                               kEventLogMaximumBytes)
                                 ? 1
                                 : 0;
                  },
                  std::nullopt, 10000),
              0);
    EXPECT_EQ(ReadBytes(Path()), before);
    EXPECT_EQ(Walk().size(), 1u);

    other.Reset();
    ASSERT_TRUE(AppendEventRecord(Path(), Fields(kSource, 2, 0x40000064, {"three"}),
                                  kEventLogMaximumBytes));
    EXPECT_EQ(Walk().back(), std::make_pair(2u, std::string("three")));
}

TEST_F(EventLog, OtherUsersReadTheHistory) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching users needs root";
    }
    ASSERT_TRUE(
        AppendEventRecord(Path(), Fields(kSource, 0, 0x40000064, {"good"}), kEventLogMaximumBytes));
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    EXPECT_EQ(test::RunInForkedChild(
                  [] {
                      const auto history = ReadEventLogHistory("Application", kSource);
                      return history.size() == 1 && history[0].line == "[1970-01-01 00:00:00] good"
                                 ? 0
                                 : 1;
                  },
                  test::kNobodyUser),
              0);
}

TEST(EventMessage, TheMessageTableSentenceSurroundsTheInsertString) {
    EXPECT_EQ(FormatEventMessage(0x40000064, {"good 1.2.3.4"}, Language::English),
              "The dynamic DNS service has reported the following information:\r\r\n\r\n"
              "good 1.2.3.4\r\n");
    EXPECT_EQ(EventMessageLine(0x80000065, {"911"}, Language::English),
              "The dynamic DNS service has reported the following warning: 911");
    EXPECT_EQ(EventMessageLine(0xC0000066, {"bad\nauth\t x"}, Language::English),
              "The dynamic DNS service has reported the following error: bad auth x");
    // Every control character, 0x1F the last of them, and DEL become one blank; 0x21 stays.
    EXPECT_EQ(EventMessageLine(0xC0000066,
                               {"a\x1F"
                                "b\x7F"
                                "c!d"},
                               Language::English),
              "The dynamic DNS service has reported the following error: a b c!d");
    EXPECT_EQ(FormatEventMessage(0x12, {"x"}, Language::English), "");
    EXPECT_EQ(EventMessageLine(0x12, {"x", "y"}, Language::English), "Event 0x00000012: x y");
}

TEST(EventMessage, TheGermanSentencesFollowTheStringTablesLanguage) {
    struct Case {
        std::uint32_t id;
        const char* line;
    };
    for (const Case& c : {
             Case{0x40000064,
                  "Der dynamische DNS Dienst hat folgende Information "
                  "zurückgegeben: good 1.2.3.4"},
             Case{0x80000065,
                  "Der dynamische DNS Dienst hat folgende Warnung zurückgegeben: "
                  "good 1.2.3.4"},
             Case{0xC0000066,
                  "Der dynamische DNS Dienst hat folgenden Fehler zurückgegeben: "
                  "good 1.2.3.4"},
         }) {
        EXPECT_EQ(EventMessageLine(c.id, {"good 1.2.3.4"}, Language::German), c.line);
    }
    EXPECT_EQ(FormatEventMessage(0x80000065, {"911"}, Language::German),
              "Der dynamische DNS Dienst hat folgende Warnung zurückgegeben:\r\r\n\r\n911\r\n");
    EXPECT_EQ(EventMessageLine(0x12, {"x"}, Language::German), "Event 0x00000012: x");
    // Without a language given, the string table's choice decides.
    EXPECT_EQ(EventMessageLine(0xC0000066, {"badauth"}),
              EventMessageLine(0xC0000066, {"badauth"}, CurrentLanguage()));
}

// Receives what the program sends to /dev/log, in a mount namespace of a forked child where
// /dev is a private, empty file system.
TEST_F(EventLog, EveryRecordAlsoGoesToTheSystemLogWithItsPriorityAndMessage) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a private /dev/log needs root";
    }
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int result = test::RunInForkedChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) {
            return 2;
        }
        const int sink = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/dev/log");
        if (::bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return 3;
        }
        EventSourceHandle source = OpenEventSource(kSource);
        ReportOutcomeEvent(source, kEventRecordTypeError, 0, kEventRecordIdError, {"badauth"});
        ReportOutcomeEvent(source, kEventRecordTypeWarning, 0, kEventRecordIdWarning, {"dnserr"});
        ReportOutcomeEvent(source, kEventRecordTypeInformation, 0, kEventRecordIdInformation,
                           {"nochg"});
        for (int i = 0; i < 3; ++i) {
            char buffer[1024];
            const ssize_t got = ::recv(sink, buffer, sizeof buffer - 1, MSG_DONTWAIT);
            if (got <= 0) {
                return 4;
            }
            buffer[got] = '\n';
            if (::write(pipeFds[1], buffer, static_cast<std::size_t>(got) + 1) < 0) {
                return 5;
            }
        }
        return 0;
    });
    ::close(pipeFds[1]);
    std::string received;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    ASSERT_EQ(result, 0);
    const std::vector<std::string> lines = SplitText(received, '\n');
    ASSERT_GE(lines.size(), 3u);
    // Facility daemon (3 << 3) plus the level: error 3, warning 4, information 6.
    EXPECT_EQ(lines[0].rfind("<27>", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("<28>", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("<30>", 0), 0u) << lines[2];
    EXPECT_NE(lines[0].find("Quarnel Updater["), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("]: The dynamic DNS service has reported the following error: badauth"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find("the following information: nochg"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace quarnel
