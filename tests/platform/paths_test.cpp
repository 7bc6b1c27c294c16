// Folders the program creates for its files.

#include "platform/paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

unsigned ModeOf(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(CreateFolders, GivesEveryFolderItCreatesExactlyTheModeWhateverTheUmask) {
    test::TemporaryFolder root;
    ASSERT_EQ(::chmod(root.Path().c_str(), 0711), 0);
    // A strict umask must not close a folder that every user has to read.
    const mode_t previous = ::umask(077);
    const bool created = CreateFolders(root.Path() + "/shared/eventlog", 0755);
    const bool createdPrivate = CreateFolders(root.Path() + "/shared/private", 0700);
    ::umask(previous);
    ASSERT_TRUE(created);
    ASSERT_TRUE(createdPrivate);
    EXPECT_EQ(ModeOf(root.Path() + "/shared"), 0755u);
    EXPECT_EQ(ModeOf(root.Path() + "/shared/eventlog"), 0755u);
    EXPECT_EQ(ModeOf(root.Path() + "/shared/private"), 0700u);
    // Folders that were there already keep their mode.
    EXPECT_EQ(ModeOf(root.Path()), 0711u);
}

TEST(CreateFolders, FailsWhereAFileStandsInThePath) {
    test::TemporaryFolder root;
    ASSERT_TRUE(CreateFolders(root.Path() + "/a", 0755));
    EXPECT_TRUE(CreateFolders(root.Path() + "/a", 0755));
    ASSERT_TRUE(test::ListFolder(root.Path() + "/a").empty());
    const std::string file = root.Path() + "/a/file";
    ASSERT_EQ(::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0600)), 0);
    EXPECT_FALSE(CreateFolders(file, 0755));
    EXPECT_FALSE(CreateFolders(file + "/below", 0755));
    EXPECT_FALSE(CreateFolders("", 0755));
}

}  // namespace
}  // namespace quarnel
