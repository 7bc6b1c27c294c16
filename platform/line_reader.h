#pragma once

// Reading text input line by line from a descriptor with bounds: a line longer than the limit
// and input that ends in the middle of a line are told apart from a clean end, so a truncated
// or runaway input is never taken as complete.

#include <cstddef>
#include <string>

namespace quarnel {

// The descriptor of the standard input, for LineReader and IsTerminal.
inline constexpr int kStandardInput = 0;

enum class LineStatus {
    Line,       // a whole line (without its line feed and a carriage return before it)
    End,        // the input ended cleanly after the last line
    Truncated,  // the input ended in the middle of a line
    TooLong,    // a line exceeded the limit (the rest of the input is not read)
    Failed,     // reading failed
};

class LineReader {
  public:
    LineReader(int fd, std::size_t maximumLineLength);
    LineStatus ReadLine(std::string& line);

  private:
    int fd_;
    std::size_t maximumLineLength_;
    std::string buffer_;
    bool ended_ = false;
};

}  // namespace quarnel
