#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

std::uint64_t CurrentProcessId();
std::uint64_t CurrentThreadId();
// The user id the process runs as (effective).
std::uint32_t CurrentUserId();
// The program's arguments after its name, as UTF-8 texts: argv on Linux; on Windows the wide
// command line, since argv there is in the legacy code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The program's full file name (the resolved executable path), or the empty text.
std::string GetProgramPath();

// A long-running process with few threads keeps one allocation arena for all of them instead of
// one per thread (call before starting threads).
void UseOneAllocationArena();
// Hands memory that the allocator holds but no longer uses back to the system.
void ReleaseUnusedMemory();

// Overwrites memory that held a secret, in a way the compiler does not leave out.
void WipeMemory(void* data, std::size_t size);

// The calling thread's last system error code (errno on Linux).
std::uint32_t GetLastErrorCode();
// The system's message text for an error code, or the empty text when it has none.
std::string SystemErrorText(std::uint32_t code);

}  // namespace quarnel
