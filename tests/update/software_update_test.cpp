#include "update/software_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/ddns/emulator_test_base.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/update/test_signer.h"
#include "update/file_signature.h"

namespace quarnel {
namespace {

struct Case {
    const char* name;
    // Publishes the maker's site on the emulator; `files` holds the signed installer (.deb) and
    // its signature (.deb.p7s), `site` is https://127.0.0.1:<port>.
    std::function<std::vector<std::string>(const std::string& files, const std::string& site,
                                           const std::string& httpSite)>
        admin;
    bool beta;
    DownloadOutcome expected;
};

std::string Publish(const std::string& url) {
    return "/admin/software?software-version=1.5.2.295&software-download=" + url;
}

class SoftwareUpdate : public test::EmulatorTest, public ::testing::WithParamInterface<Case> {};

TEST_P(SoftwareUpdate, InstallsOnlyAWholeInstallerTheMakerSigned) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    const std::string files = root_.Path() + "/files";
    ASSERT_EQ(::mkdir(files.c_str(), 0700), 0);
    std::ofstream(files + "/good.deb", std::ios::binary) << std::string(300000, 'd');
    ASSERT_TRUE(test::SignFile(files + "/good.deb", "test-signer", files + "/good.deb.p7s"));
    ASSERT_TRUE(test::SignFile(files + "/good.deb", "other-signer", files + "/other.deb.p7s"));
    const std::string site = "https://127.0.0.1:" + std::to_string(emulator_.HttpsPort());
    const std::string httpSite = "http://127.0.0.1:" + std::to_string(emulator_.HttpPort());
    for (const std::string& command : GetParam().admin(files, site, httpSite)) {
        Admin(command);
    }

    const test::TemporaryFolder base;
    std::vector<std::string> installed;
    std::vector<std::uint64_t> progress;
    DownloadRequest request;
    request.beta = GetParam().beta;
    request.folderBase = base.Path();
    request.onProgress = [&](std::int64_t, std::uint64_t received, std::uint64_t, std::uint64_t) {
        progress.push_back(received);
    };
    request.install = [&](const std::string& path, const std::string& version) {
        // What is handed to the root step: the whole, verified file, in a folder only this user
        // can enter, with the version the page offered.
        struct stat folder = {};
        EXPECT_EQ(::stat(path.substr(0, path.rfind('/')).c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 0777, 0700u);
        EXPECT_EQ(test::ReadFileText(path), test::ReadFileText(files + "/good.deb"));
        EXPECT_EQ(version, "1.5.2.295");
        installed.push_back(path);
        return DownloadOutcome::Installing;
    };
    const DownloadOutcome outcome = DownloadSoftwareUpdate(request);
    EXPECT_EQ(outcome, GetParam().expected) << DownloadOutcomeText(outcome);
    EXPECT_EQ(installed.size(), GetParam().expected == DownloadOutcome::Installing ? 1u : 0u);
    if (GetParam().expected == DownloadOutcome::Installing) {
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 300000u);
    }
    EXPECT_TRUE(test::ListFolder(base.Path()).empty()) << "the download folder was left behind";
}

std::vector<std::string> Installer(const std::string& files, const char* signature) {
    std::vector<std::string> commands{"/admin/page?path=/q.deb&file=" + files + "/good.deb"};
    if (signature != nullptr) {
        commands.push_back("/admin/page?path=/q.deb.p7s&file=" + files + "/" + signature);
    }
    return commands;
}

std::vector<std::string> With(std::vector<std::string> commands, const std::string& more) {
    commands.push_back(more);
    return commands;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoftwareUpdate,
    ::testing::Values(Case{"SignedByTheMaker",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               return With(Installer(f, "good.deb.p7s"), Publish(s + "/q.deb"));
                           },
                           false, DownloadOutcome::Installing},
                      Case{"SignedBySomeoneElse",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               return With(Installer(f, "other.deb.p7s"), Publish(s + "/q.deb"));
                           },
                           false, DownloadOutcome::SignatureInvalid},
                      Case{"NotSigned",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               return With(Installer(f, nullptr), Publish(s + "/q.deb"));
                           },
                           false, DownloadOutcome::SignatureMissing},
                      Case{"SignatureOfAnotherFile",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               auto c = With(Installer(f, "good.deb.p7s"), Publish(s + "/q.deb"));
                               c.push_back("/admin/page?path=/q.deb&text=something+else");
                               return c;
                           },
                           false, DownloadOutcome::SignatureInvalid},
                      Case{"TruncatedDownload",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               return With(
                                   With(Installer(f, "good.deb.p7s"), Publish(s + "/q.deb")),
                                   "/admin/fault?kind=short&path=/q.deb");
                           },
                           false, DownloadOutcome::DownloadFailed},
                      Case{"PlainHttpUrl",
                           [](const std::string& f, const std::string&, const std::string& h) {
                               return With(Installer(f, "good.deb.p7s"), Publish(h + "/q.deb"));
                           },
                           false, DownloadOutcome::NoDownload},
                      Case{"UrlElsewhere",
                           [](const std::string& f, const std::string&, const std::string&) {
                               return With(Installer(f, "good.deb.p7s"),
                                           Publish("https://downloads.example/q.deb"));
                           },
                           false, DownloadOutcome::NoDownload},
                      Case{"BetaChannelWithoutBetaTag",
                           [](const std::string& f, const std::string& s, const std::string&) {
                               return With(Installer(f, "good.deb.p7s"), Publish(s + "/q.deb"));
                           },
                           true, DownloadOutcome::NoDownload},
                      Case{"NoPage",
                           [](const std::string& f, const std::string&, const std::string&) {
                               return Installer(f, "good.deb.p7s");
                           },
                           false, DownloadOutcome::NoPage}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

class VersionCheck : public test::EmulatorTest {};

// Only the fourth number counts; an error page or a missing page offers nothing.
TEST_F(VersionCheck, ReadsTheMakersPageForTheChannel) {
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    EXPECT_EQ(CheckSoftwareVersion(false).version, "") << "no page yet (404)";
    struct Published {
        std::string published;
        bool beta;
        std::string version;
        bool newer;
    };
    for (const Published& c :
         {Published{"software-version=1.5.2.294", false, "1.5.2.294", false},
          Published{"software-version=1.5.2.295", false, "1.5.2.295", true},
          Published{"software-version=2.0.0.1", false, "2.0.0.1", false},
          Published{"software-version=1.5.2.295", true, "", false},
          Published{"software-beta-version=1.5.3.300", true, "1.5.3.300", true}}) {
        Admin("/admin/software?" + c.published);
        const UpdateOffer offer = CheckSoftwareVersion(c.beta);
        EXPECT_EQ(offer.version, c.version) << c.published;
        EXPECT_EQ(offer.newer, c.newer) << c.published;
    }
}

TEST(UpdateOffer, OnlyTheChannelsOwnUniqueTagsAndTheMakersHttpsUrlsCount) {
    const std::string site = "https://maker.example/index.html";
    const std::string page =
        "<meta name=\"software-version\" content=\"1.5.2.295\">"
        "<meta name=\"software-download\" content=\"https://maker.example/q.deb\">"
        "<meta name=\"software-beta-download\" content=\"https://maker.example:8443/b.deb\">";
    const UpdateOffer release = ReadUpdateOffer(page, false, site);
    EXPECT_EQ(release.version, "1.5.2.295");
    EXPECT_TRUE(release.newer);
    EXPECT_EQ(release.downloadUrl, "https://maker.example/q.deb");
    const UpdateOffer beta = ReadUpdateOffer(page, true, site);
    EXPECT_EQ(beta.version, "");
    EXPECT_FALSE(beta.newer);
    EXPECT_EQ(beta.downloadUrl, "") << "another port is another server";
}

}  // namespace
}  // namespace quarnel
