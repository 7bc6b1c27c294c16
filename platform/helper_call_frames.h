#pragma once

// The frames a helper writes on its standard output: one kind byte ('p' progress, 'a' answer),
// the payload's length as four bytes (little-endian), then the payload. Shared by the caller
// (platform/helper_call) and the helper executable.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

inline constexpr char kHelperProgressFrame = 'p';
inline constexpr char kHelperAnswerFrame = 'a';
inline constexpr std::size_t kHelperFrameHeadSize = 5;
// A progress frame is a few figures; a larger one is malformed.
inline constexpr std::size_t kHelperProgressLimit = 4096;

std::string HelperFrame(char kind, std::string_view payload);

struct HelperFrameHead {
    char kind = 0;
    std::uint32_t length = 0;
};
// The head at the start of bytes (at least kHelperFrameHeadSize of them).
HelperFrameHead ReadHelperFrameHead(std::string_view bytes);

}  // namespace quarnel
