#pragma once

// The event log's files: one file of records per log, appended by writers under a lock and kept
// within a size bound by dropping its oldest records whole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/event_record.h"

namespace quarnel {

// The size bound of a log file.
inline constexpr std::size_t kEventLogMaximumBytes = 1 << 20;
// Files larger than this are not read at all (they are no log this program wrote).
inline constexpr std::size_t kEventLogReadLimit = 64 << 20;

// EventLogFolder()/<logName>.evt; empty when logName is no plain name (letters, digits, blank,
// "-", "_", ".", not starting with ".").
std::string EventLogFilePath(std::string_view logName);

// Appends one record (its record number continues the file's last whole one) to the file at
// path. A torn tail left by an interrupted writer is cut off first, while damaged bytes anywhere
// else stay in place (readers step over them); when the record does not fit
// within maxBytes, the oldest records are dropped until the file is at most three quarters full,
// and the file is rewritten whole. False when the record is too long or the file cannot be
// written, also when another writer held the lock too long: the record is then dropped.
bool AppendEventRecord(const std::string& path, EventRecordFields fields, std::size_t maxBytes);

// The bytes of the file at path, read without any lock; false when it cannot be read (a missing
// file is an empty log).
bool ReadEventRecords(const std::string& path, std::vector<std::uint8_t>& contents);

}  // namespace quarnel
