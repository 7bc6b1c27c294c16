#pragma once

// Operations compiled only into the test copy of the helper (QUARNEL_HELPER_TEST_OPERATIONS),
// never into the installed one: they let a test see what the helper runs as, what its sandbox
// still allows, and how it behaves while it works. They run under the profile the call asked
// for.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// Answers the Uid, Gid, NoNewPrivs, Seccomp and CapEff lines of /proc/self/status, and a line
// "Session: <session id> <own pid> <controlling terminal>" from /proc/self/stat.
inline constexpr std::uint8_t kTestOperationStatus = 200;
// Opens an internet socket, which the compute profile forbids; answers "alive" if it lives on.
inline constexpr std::uint8_t kTestOperationForbidden = 201;
// Answers its environment, one entry a line, and its command line's argument count.
inline constexpr std::uint8_t kTestOperationEnvironment = 202;
// Sleeps for a minute (a helper in flight), then answers "slept".
inline constexpr std::uint8_t kTestOperationSleep = 203;
// Tries what the request names and answers "ok" or the error's name (ENOENT, EACCES, ...):
//   read <path>             open for reading
//   write <path>            open for writing, created when missing
//   socket <family> <type> <protocol>   (numbers)
//   ioctl <request>         on standard input (a number; the upper 32 bits may be set)
//   signal <pid>            signal 0 to a process
// A call the system-call filter forbids ends the helper instead.
inline constexpr std::uint8_t kTestOperationTry = 204;

std::optional<std::string> RunTestOperation(std::uint8_t operation, std::string_view request);

}  // namespace quarnel
