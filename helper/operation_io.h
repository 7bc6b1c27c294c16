#pragma once

// The helper's side of the pipes: the request on standard input, frames on standard output.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// Reads standard input to its end; nothing when it holds more than limit bytes or fails.
std::optional<std::string> ReadRequest(std::size_t limit);
// Writes one frame (see platform/helper_call_frames.h) on standard output; false when the caller
// is gone.
bool SendFrame(char kind, std::string_view payload);

}  // namespace quarnel
