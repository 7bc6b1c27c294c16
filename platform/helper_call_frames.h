#pragma once

// The frames between the caller and the helper: one kind byte, the payload's length as four bytes
// (little-endian), then the payload. Shared by the caller (platform/helper_call) and the helper
// executable.
//
// The caller writes on the helper's standard input one profile byte (kHelperProfileCompute or
// kHelperProfileNetwork: what the helper's sandbox allows), then one frame per operation, whose
// kind is the operation (HelperOperation) and whose payload is its request; the end of that input
// ends the helper (successfully, and silently when no operation came). The helper writes on its
// standard output, for each operation in turn, any number of progress frames ('p') and then
// either its answer ('a') or, when it cannot go on, one failure frame ('f', a short reason) after
// which it exits with an error. A notice ('n', a short text) may come before any answer: what the
// caller should know once, such as a restriction the kernel does not offer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

inline constexpr char kHelperProgressFrame = 'p';
inline constexpr char kHelperAnswerFrame = 'a';
inline constexpr char kHelperFailureFrame = 'f';
inline constexpr char kHelperNoticeFrame = 'n';
inline constexpr char kHelperProfileCompute = 'C';
inline constexpr char kHelperProfileNetwork = 'N';
inline constexpr std::size_t kHelperFrameHeadSize = 5;
// A progress frame is a few figures, a failure or a notice one line; a larger one is malformed.
inline constexpr std::size_t kHelperProgressLimit = 4096;

std::string HelperFrame(char kind, std::string_view payload);

struct HelperFrameHead {
    char kind = 0;
    std::uint32_t length = 0;
};
// The head at the start of bytes (at least kHelperFrameHeadSize of them).
HelperFrameHead ReadHelperFrameHead(std::string_view bytes);

}  // namespace quarnel
