#pragma once

// Operations compiled only into the test copy of the helper (QUARNEL_HELPER_TEST_OPERATIONS),
// never into the installed one: they let a test see what the helper runs as and that its filter
// kills a forbidden call. They run under the compute profile.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// Answers the Uid, Gid, NoNewPrivs, Seccomp and CapEff lines of /proc/self/status.
inline constexpr std::uint8_t kTestOperationStatus = 200;
// Opens an internet socket, which the compute profile forbids; answers "alive" if it lives on.
inline constexpr std::uint8_t kTestOperationForbidden = 201;

// Answers its environment, one entry a line, and its command line's argument count.
inline constexpr std::uint8_t kTestOperationEnvironment = 202;

std::optional<std::string> RunTestOperation(std::uint8_t operation, std::string_view request);

}  // namespace quarnel
