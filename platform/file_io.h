#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/native_handle.h"

namespace quarnel {

// Opens path for reading and writing, creating it with the given mode when missing; an existing
// file is opened at its start and not truncated. Not inherited by programs the process starts.
UniqueHandle OpenReadWriteFile(const std::string& path, unsigned mode);
// Writes all bytes, retrying short writes and interruptions; false on any failure.
bool WriteAll(NativeHandle file, const void* data, std::size_t size);
// Creates the file, or empties an existing one, for writing; readable and writable by its owner
// only (an existing plain file is given that mode too, so that what is written cannot become
// readable by others through it). plainFile tells whether the path names a plain file rather
// than a device or a pipe. Invalid when it cannot be opened or made private.
UniqueHandle CreatePrivateFile(const std::string& path, bool& plainFile);
// Removes a file; false when it was there and could not be removed.
bool RemoveFile(const std::string& path);
// Moves the file position to the end; false on failure.
bool SeekToEnd(NativeHandle file);
// Reads a whole file up to maxBytes; false when it cannot be opened or read or is larger.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out);
bool IsDirectory(const std::string& path);

}  // namespace quarnel
