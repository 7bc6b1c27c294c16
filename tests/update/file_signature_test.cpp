#include "update/file_signature.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "platform/unique_fd.h"
#include "tests/support/test_support.h"
#include "tests/support/unusable_helpers.h"
#include "tests/update/test_signer.h"

namespace quarnel {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
    return test::ReadFileText(path);
}

struct Case {
    const char* name;
    // Prepares file and file.p7s in a fresh folder, starting from an installer text.
    std::function<void(const std::string& file)> prepare;
    std::int64_t expected;
};

const std::string kInstaller = std::string(5000, 'q') + "installer";

class FileSignature : public ::testing::TestWithParam<Case> {};

TEST_P(FileSignature, OnlyThePinnedSignerCounts) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    test::TemporaryFolder folder;
    const std::string file = folder.Path() + "/quarnel.deb";
    WriteBytes(file, kInstaller);
    GetParam().prepare(file);
    std::string reason;
    EXPECT_EQ(VerifyFileSignature(file, &reason), GetParam().expected) << reason;
    EXPECT_EQ(reason.empty(), GetParam().expected == 1) << reason;
}

const std::string kSig = kSignatureSuffix;

INSTANTIATE_TEST_SUITE_P(
    Cases, FileSignature,
    ::testing::Values(
        Case{"PinnedSigner",
             [](const std::string& f) { test::SignFile(f, "test-signer", f + kSig); }, 1},
        Case{"OtherSigner",
             [](const std::string& f) { test::SignFile(f, "other-signer", f + kSig); }, 0},
        // A certificate the pinned one issued is still not the pinned signer.
        Case{"SignerThePinnedCertificateVouchesFor",
             [](const std::string& f) {
                 test::SignFileWithIssuedCertificate(f, "test-signer", f + kSig);
             },
             0},
        Case{"ContentChangedAfterSigning",
             [](const std::string& f) {
                 test::SignFile(f, "test-signer", f + kSig);
                 WriteBytes(f, kInstaller + "!");
             },
             0},
        Case{"SignatureByteFlipped",
             [](const std::string& f) {
                 test::SignFile(f, "test-signer", f + kSig);
                 std::string s = ReadBytes(f + kSig);
                 s[s.size() - 10] = static_cast<char>(s[s.size() - 10] ^ 1);
                 WriteBytes(f + kSig, s);
             },
             0},
        Case{"SignatureTruncated",
             [](const std::string& f) {
                 test::SignFile(f, "test-signer", f + kSig);
                 const std::string s = ReadBytes(f + kSig);
                 WriteBytes(f + kSig, s.substr(0, s.size() / 2));
             },
             0},
        Case{"TruncatedDownload",
             [](const std::string& f) {
                 test::SignFile(f, "test-signer", f + kSig);
                 WriteBytes(f, kInstaller.substr(0, 4096));
             },
             0},
        Case{"NoSignature", [](const std::string&) {}, 0},
        Case{"EmptyFile",
             [](const std::string& f) {
                 WriteBytes(f, "");
                 test::SignFile(f, "test-signer", f + kSig);
             },
             0},
        Case{"SignatureIsALink",
             [](const std::string& f) {
                 test::SignFile(f, "test-signer", f + ".real");
                 std::filesystem::create_symlink(f + ".real", f + kSig);
             },
             0}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// What is installed is the descriptor that was checked, read from its start wherever it stood.
TEST(FileSignatureDescriptor, VerifiesTheOpenFileFromItsStart) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    test::TemporaryFolder folder;
    const std::string file = folder.Path() + "/quarnel.deb";
    WriteBytes(file, kInstaller);
    ASSERT_TRUE(test::SignFile(file, "test-signer", file + kSig));
    const UniqueFd content(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    const UniqueFd signature(::open((file + kSig).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(content.Valid() && signature.Valid());
    ASSERT_EQ(::lseek(content.Get(), 100, SEEK_SET), 100);
    EXPECT_EQ(VerifyOpenFileSignature(content.Get(), signature.Get()), 1);
    // A file put in its place afterwards changes nothing about the open one.
    WriteBytes(file + ".other", "planted");
    std::filesystem::rename(file + ".other", file);
    EXPECT_EQ(VerifyOpenFileSignature(content.Get(), signature.Get()), 1);
    EXPECT_EQ(VerifyFileSignature(file), 0);
}

// The check runs in the helper process: a helper that gives no usable answer verifies nothing.
TEST(FileSignatureHelper, WithoutAWorkingHelperNothingVerifies) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    test::TemporaryFolder folder;
    const std::string file = folder.Path() + "/quarnel.deb";
    WriteBytes(file, kInstaller);
    ASSERT_TRUE(test::SignFile(file, "test-signer", file + kSig));
    ASSERT_EQ(VerifyFileSignature(file), 1);
    for (const test::UnusableHelper& helper : test::kUnusableHelpers) {
        SCOPED_TRACE(helper.name);
        const test::ScopedEnvironment use("QUARNEL_HELPER",
                                          test::MakeUnusableHelper(folder.Path(), helper));
        std::string reason;
        EXPECT_EQ(VerifyFileSignature(file, &reason), 0);
        EXPECT_NE(reason.find("does not verify"), std::string::npos) << reason;
    }
}

// "/signature" checks the program's own file: exit code 1 when it verifies, else 0.
TEST(SignatureSwitch, ExitCodesForAGoodAndABadProgramFile) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    test::TemporaryFolder folder;
    const std::string program = folder.Path() + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const std::map<std::string, std::string> environment{{"QUARNEL_ROOT", folder.Path()}};
    // The test runs the copy, so the signature is looked for beside it.
    const test::ScopedEnvironment use("QUARNEL_PROGRAM", program);
    test::ProgramResult result = test::RunProgram({"/signature"}, environment);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("there is no signature"), std::string::npos) << result.output;
    ASSERT_TRUE(test::SignFile(program, "test-signer", program + kSig));
    result = test::RunProgram({"/signature"}, environment);
    EXPECT_EQ(result.exitCode, 1) << result.output;
    ASSERT_TRUE(test::SignFile(program, "other-signer", program + kSig));
    result = test::RunProgram({"/signature"}, environment);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("does not verify"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace quarnel
