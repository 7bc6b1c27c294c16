#pragma once

// The helper's side of its channels: the profile byte and the operation frames on standard input,
// frames on standard output (see platform/helper_call_frames.h).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// The profile byte; 0 when the input ended before one (a helper started ahead of a call that
// never came), nothing when it cannot be read.
std::optional<char> ReadProfile();

struct OperationFrame {
    char kind = 0;
    std::string request;
};
// The next operation; nothing when the input ended (ended is then true), cannot be read, ends
// inside a frame or holds a request longer than limit.
std::optional<OperationFrame> ReadOperationFrame(std::size_t limit, bool& ended);

// Writes one frame on standard output; false when the caller is gone.
bool SendFrame(char kind, std::string_view payload);

}  // namespace quarnel
