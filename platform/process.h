#pragma once

#include <cstdint>
#include <string>

namespace quarnel {

std::uint64_t CurrentProcessId();
std::uint64_t CurrentThreadId();
// The user id the process runs as (effective).
std::uint32_t CurrentUserId();
// The program's full file name (the resolved executable path), or the empty text.
std::string GetProgramPath();

// A long-running process with few threads keeps one allocation arena for all of them instead of
// one per thread (call before starting threads).
void UseOneAllocationArena();
// Hands memory that the allocator holds but no longer uses back to the system.
void ReleaseUnusedMemory();

// The calling thread's last system error code (errno on Linux).
std::uint32_t GetLastErrorCode();
// The system's message text for an error code, or the empty text when it has none.
std::string SystemErrorText(std::uint32_t code);

}  // namespace quarnel
