#include "update/download_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

unsigned ModeOf(const std::string& path) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0xFFFFu;
}

TEST(PrivateDownloadFolder, IsFreshPrivateAndRemovedWithItsFiles) {
    test::TemporaryFolder base;
    std::string path;
    {
        PrivateDownloadFolder folder(base.Path());
        PrivateDownloadFolder other(base.Path());
        ASSERT_TRUE(folder.Valid() && other.Valid());
        EXPECT_NE(folder.Path(), other.Path());
        path = folder.Path();
        EXPECT_EQ(ModeOf(path), 0700u);
        const UniqueFd file = folder.CreateFile("quarnel.deb");
        ASSERT_TRUE(file.Valid());
        ASSERT_EQ(::write(file.Get(), "deb", 3), 3);
        EXPECT_EQ(ModeOf(path + "/quarnel.deb"), 0600u);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(test::ListFolder(base.Path()).empty());
}

TEST(PrivateDownloadFolder, CreatesEachFileExclusivelyAndFollowsNoLink) {
    test::TemporaryFolder base;
    const std::string target = base.Path() + "/target";
    {
        PrivateDownloadFolder folder(base.Path());
        ASSERT_TRUE(folder.Valid());
        EXPECT_TRUE(folder.CreateFile("a.deb").Valid());
        EXPECT_FALSE(folder.CreateFile("a.deb").Valid()) << "an existing name is not reused";
        std::filesystem::create_symlink(target, folder.Path() + "/planted.deb");
        EXPECT_FALSE(folder.CreateFile("planted.deb").Valid());
        EXPECT_FALSE(std::filesystem::exists(target)) << "the link was followed";
        for (const char* name : {"", ".", "..", "../escape.deb", "sub/x.deb"}) {
            EXPECT_FALSE(folder.CreateFile(name).Valid()) << name;
        }
        std::filesystem::remove(folder.Path() + "/planted.deb");
    }
    EXPECT_TRUE(test::ListFolder(base.Path()).empty());
}

TEST(PrivateDownloadFolder, AMissingBaseGivesNoFolder) {
    test::TemporaryFolder base;
    PrivateDownloadFolder folder(base.Path() + "/missing");
    EXPECT_FALSE(folder.Valid());
    EXPECT_FALSE(folder.CreateFile("a.deb").Valid());
}

}  // namespace
}  // namespace quarnel
