#include "service/check_record.h"

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <vector>

#include "diagnostics/log.h"
#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr std::size_t kMaximumRecordSize = 1024;
constexpr CheckFinding kFindings[] = {CheckFinding::Filtered, CheckFinding::NoConnectivity,
                                      CheckFinding::NoAddress, CheckFinding::Unchanged,
                                      CheckFinding::Recorded};

bool ParseSeconds(std::string_view text, std::int64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

std::string_view CheckFindingName(CheckFinding finding) {
    switch (finding) {
        case CheckFinding::Filtered:
            return "filtered";
        case CheckFinding::NoConnectivity:
            return "no-connectivity";
        case CheckFinding::NoAddress:
            return "no-address";
        case CheckFinding::Unchanged:
            return "unchanged";
        case CheckFinding::Recorded:
            return "recorded";
        case CheckFinding::None:
            break;
    }
    return "none";
}

std::string CheckRecordPath() {
    return RuntimeFolder() + "/last-check";
}

bool WriteCheckRecord(const CheckRecord& record) {
    const std::string text = "Checked=" + std::to_string(record.checked) +
                             "\nFound=" + std::string(CheckFindingName(record.finding)) +
                             "\nNext=" + std::to_string(record.next) + "\n";
    // Every user may read it, as every user may read the outcome in the store.
    if (!WriteFileAtomically(CheckRecordPath(), text, 0644)) {
        QLOG_ERROR_CODE(kLogWarn, "WriteCheckRecord", "Unable to write " + CheckRecordPath(),
                        static_cast<std::uint32_t>(errno));
        return false;
    }
    return true;
}

std::optional<CheckRecord> ReadCheckRecord(std::string& reason) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(CheckRecordPath(), kMaximumRecordSize, bytes)) {
        reason = "the service has not finished a check since it started";
        return std::nullopt;
    }
    CheckRecord record;
    bool checked = false;
    bool found = false;
    bool next = false;
    for (const std::string& line : SplitText(std::string(bytes.begin(), bytes.end()), '\n')) {
        const std::size_t equals = line.find('=');
        const std::string_view name = std::string_view(line).substr(0, equals);
        const std::string_view value = equals == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(line).substr(equals + 1);
        if (name == "Checked") {
            checked = ParseSeconds(value, record.checked);
        } else if (name == "Next") {
            next = ParseSeconds(value, record.next);
        } else if (name == "Found") {
            for (const CheckFinding finding : kFindings) {
                if (value == CheckFindingName(finding)) {
                    record.finding = finding;
                    found = true;
                }
            }
        }
    }
    if (!checked || !found || !next) {
        reason = CheckRecordPath() + " is damaged";
        return std::nullopt;
    }
    return record;
}

}  // namespace quarnel
