#pragma once

// What the service's last check found, for those who watch it ("/status --json", "/status
// --check"). The store records an outcome only when an update was sent, so with a steady
// address it says nothing for days; this record is rewritten after every check. It lies in the
// service's runtime folder (<RuntimeFolder>/last-check, readable by every user, gone at the next
// boot) as "Name=Value" lines:
//
//   Checked=1700000000     the check's end, seconds since 1970 UTC
//   Found=unchanged        filtered, no-connectivity, no-address, unchanged or recorded
//   Next=1700000900        when the timer wakes the service at the latest; 0: no timer armed

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

enum class CheckFinding {
    None,            // the check ended without a finding (the service is stopping)
    Filtered,        // the network filter held the update back
    NoConnectivity,  // the probe host did not resolve
    NoAddress,       // the IP echo gave no valid address
    Unchanged,       // nothing to send: the provider's record is current
    Recorded,        // an update was sent and its outcome recorded
};

struct CheckRecord {
    std::int64_t checked = 0;  // seconds since 1970 UTC
    CheckFinding finding = CheckFinding::None;
    std::int64_t next = 0;  // seconds since 1970 UTC; 0 when no timer is armed
};

// "filtered", "no-connectivity", ...; "none" for None.
std::string_view CheckFindingName(CheckFinding finding);

std::string CheckRecordPath();

// Replaces the record; false (logged) when it cannot be written.
bool WriteCheckRecord(const CheckRecord& record);

// The record, or nothing with the reason in reason.
std::optional<CheckRecord> ReadCheckRecord(std::string& reason);

}  // namespace quarnel
