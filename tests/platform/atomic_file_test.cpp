// Whole-file replacement: the old or the new content, never a torn file or a stray temporary.

#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(WriteFileAtomically, ReplacesContentAndModeAndLeavesNoTemporaryFile) {
    test::TemporaryFolder folder;
    const std::string path = folder.Path() + "/unit.service";
    ASSERT_TRUE(WriteFileAtomically(path, "first\n", 0600));
    ASSERT_TRUE(WriteFileAtomically(path, "second\n", 0644));
    EXPECT_EQ(test::ReadFileText(path), "second\n");
    struct stat info = {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(test::ListFolder(folder.Path()), std::vector<std::string>{"unit.service"});
}

TEST(WriteFileAtomically, AFailureKeepsTheOldFile) {
    test::TemporaryFolder folder;
    EXPECT_FALSE(WriteFileAtomically(folder.Path() + "/missing/file", "x", 0644));
    const std::string path = folder.Path() + "/entry";
    ASSERT_TRUE(WriteFileAtomically(path, "old", 0644));
    // A folder where the file should be cannot be replaced by a file.
    ASSERT_EQ(::mkdir((folder.Path() + "/taken").c_str(), 0755), 0);
    EXPECT_FALSE(WriteFileAtomically(folder.Path() + "/taken", "new", 0644));
    EXPECT_EQ(test::ReadFileText(path), "old");
    EXPECT_EQ(test::ListFolder(folder.Path()), (std::vector<std::string>{"entry", "taken"}));
}

TEST(RemoveFileDurably, ReportsAFileThatIsGoneAlsoWhenItWasNeverThere) {
    test::TemporaryFolder folder;
    const std::string path = folder.Path() + "/entry";
    ASSERT_TRUE(WriteFileAtomically(path, "x", 0644));
    EXPECT_TRUE(RemoveFileDurably(path));
    EXPECT_TRUE(RemoveFileDurably(path));
    EXPECT_TRUE(test::ListFolder(folder.Path()).empty());
}

}  // namespace
}  // namespace quarnel
