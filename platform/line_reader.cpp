#include "platform/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

// The C runtime reads a descriptor on both platforms (MinGW's unistd.h maps read to _read).

namespace quarnel {

LineReader::LineReader(int fd, std::size_t maximumLineLength)
    : fd_(fd), maximumLineLength_(maximumLineLength) {}

LineStatus LineReader::ReadLine(std::string& line) {
    line.clear();
    while (true) {
        const std::size_t feed = buffer_.find('\n');
        if (feed != std::string::npos) {
            if (feed > maximumLineLength_ + 1) {
                return LineStatus::TooLong;
            }
            line = buffer_.substr(0, feed);
            buffer_.erase(0, feed + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line.size() > maximumLineLength_ ? LineStatus::TooLong : LineStatus::Line;
        }
        if (buffer_.size() > maximumLineLength_ + 1) {
            return LineStatus::TooLong;
        }
        if (ended_) {
            return buffer_.empty() ? LineStatus::End : LineStatus::Truncated;
        }
        char chunk[4096];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LineStatus::Failed;
        }
        if (got == 0) {
            ended_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace quarnel
