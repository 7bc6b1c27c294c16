#include "helper/operation_io.h"

#include <unistd.h>

#include <cerrno>

#include "platform/helper_call_frames.h"

namespace quarnel {
namespace {

// Reads exactly size bytes; the count read before the input ended or failed otherwise.
std::size_t ReadExactly(char* data, std::size_t size, bool& failed) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(0, data + done, size - done);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            failed = true;
            break;
        }
    }
    return done;
}

}  // namespace

std::optional<char> ReadProfile() {
    char profile = 0;
    bool failed = false;
    if (ReadExactly(&profile, 1, failed) == 1) {
        return profile;
    }
    return failed ? std::nullopt : std::optional<char>(0);
}

std::optional<OperationFrame> ReadOperationFrame(std::size_t limit, bool& ended) {
    ended = false;
    char head[kHelperFrameHeadSize];
    bool failed = false;
    const std::size_t got = ReadExactly(head, sizeof head, failed);
    if (got != sizeof head) {
        ended = got == 0 && !failed;
        return std::nullopt;
    }
    const HelperFrameHead parsed = ReadHelperFrameHead(std::string_view(head, sizeof head));
    if (parsed.length > limit) {
        return std::nullopt;
    }
    OperationFrame frame;
    frame.kind = parsed.kind;
    frame.request.resize(parsed.length);
    if (ReadExactly(frame.request.data(), frame.request.size(), failed) != frame.request.size()) {
        return std::nullopt;
    }
    return frame;
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
