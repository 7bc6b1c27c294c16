#pragma once

// Replacing a whole file so that a crash, a kill or a full disk at any moment leaves either the
// old content or the new one, never a torn file.

#include <string>
#include <string_view>

namespace quarnel {

// Writes content to a temporary file in the same folder, gives it the mode, flushes it to disk,
// renames it over path and flushes the folder. False on any failure (errno tells why); the old
// file is then unchanged and no temporary file is left behind.
bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode);

// Flushes a folder's entries to disk, so that files created, renamed or removed in it stay so
// after a crash. False when the folder cannot be opened or flushed.
bool SyncFolder(const std::string& folder);

// Removes a file and flushes its folder; true when the file is gone afterwards (also when it
// was not there).
bool RemoveFileDurably(const std::string& path);

}  // namespace quarnel
