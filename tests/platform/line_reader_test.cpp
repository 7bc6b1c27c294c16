// Bounded line input: whole lines, a clean end, a line cut off by the end, a runaway line.

#include "platform/line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

// A descriptor that reads the text from a file.
UniqueFd InputOf(const test::TemporaryFolder& folder, const std::string& text) {
    const std::string path = folder.Path() + "/input";
    UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    EXPECT_EQ(::write(out.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    return UniqueFd(::open(path.c_str(), O_RDONLY));
}

std::vector<LineStatus> Statuses(const std::string& text, std::vector<std::string>& lines,
                                 std::size_t limit = 8) {
    test::TemporaryFolder folder;
    UniqueFd fd = InputOf(folder, text);
    LineReader reader(fd.Get(), limit);
    std::vector<LineStatus> statuses;
    lines.clear();
    while (statuses.size() < 10) {
        std::string line;
        const LineStatus status = reader.ReadLine(line);
        statuses.push_back(status);
        if (status != LineStatus::Line) {
            break;
        }
        lines.push_back(line);
    }
    return statuses;
}

TEST(LineReader, GivesWholeLinesWithoutLineEndsAndThenTheEnd) {
    std::vector<std::string> lines;
    EXPECT_EQ(Statuses("a=1\r\n\nbcd\n", lines),
              (std::vector<LineStatus>{LineStatus::Line, LineStatus::Line, LineStatus::Line,
                                       LineStatus::End}));
    EXPECT_EQ(lines, (std::vector<std::string>{"a=1", "", "bcd"}));
    EXPECT_EQ(Statuses("", lines), std::vector<LineStatus>{LineStatus::End});
    // Exactly the limit is still a line.
    EXPECT_EQ(Statuses("12345678\n", lines),
              (std::vector<LineStatus>{LineStatus::Line, LineStatus::End}));
}

TEST(LineReader, TellsACutOffLastLineAndAnOverLongLineApart) {
    std::vector<std::string> lines;
    EXPECT_EQ(Statuses("a=1\nb=", lines),
              (std::vector<LineStatus>{LineStatus::Line, LineStatus::Truncated}));
    EXPECT_EQ(Statuses("a=1\n123456789\n", lines),
              (std::vector<LineStatus>{LineStatus::Line, LineStatus::TooLong}));
    // A runaway line without any line feed is refused without reading it all.
    EXPECT_EQ(Statuses(std::string(100000, 'x'), lines, 4096),
              std::vector<LineStatus>{LineStatus::TooLong});
}

}  // namespace
}  // namespace quarnel
