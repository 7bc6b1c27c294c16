#include "ddns/identity_digests.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/unusable_helpers.h"

namespace quarnel {
namespace {

// The digest runs in the helper process; without a helper that answers there is no digest (and
// so no header), never a wrong one.
TEST(IdentityDigestTest, IsTheSha1OfTheUtf16UnitsAndNothingWithoutAWorkingHelper) {
    EXPECT_EQ(IdentityDigest("S-1-22-1-1000"), "4f64a3a7b1d23a91b1464c3527858b065f66df33");
    EXPECT_EQ(IdentityDigest(""), "");
    test::TemporaryFolder folder;
    for (const test::UnusableHelper& helper : test::kUnusableHelpers) {
        SCOPED_TRACE(helper.name);
        const test::ScopedEnvironment use("QUARNEL_HELPER",
                                          test::MakeUnusableHelper(folder.Path(), helper));
        EXPECT_EQ(IdentityDigest("S-1-22-1-1000"), "");
    }
}

}  // namespace
}  // namespace quarnel
