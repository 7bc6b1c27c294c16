#include "helper/operation_io.h"

#include <unistd.h>

#include <cerrno>

#include "platform/helper_call_frames.h"

namespace quarnel {

std::optional<std::string> ReadRequest(std::size_t limit) {
    std::string request;
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(0, buffer, sizeof buffer);
        if (got == 0) {
            return request;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (request.size() + static_cast<std::size_t>(got) > limit) {
            return std::nullopt;
        }
        request.append(buffer, static_cast<std::size_t>(got));
    }
}

bool SendFrame(char kind, std::string_view payload) {
    const std::string frame = HelperFrame(kind, payload);
    std::size_t written = 0;
    while (written < frame.size()) {
        const ssize_t wrote = ::write(1, frame.data() + written, frame.size() - written);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace quarnel
