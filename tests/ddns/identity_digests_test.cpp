#include "ddns/identity_digests.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exchange_stop.h"
#include "settings/protection.h"
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

// The service's stop ends a digest or a password's decipherment in a hung helper at once, as it
// ends a transfer, instead of after the helper's deadline.
TEST(IdentityDigestTest, AStopEndsADigestOrADecipherment) {
    test::TemporaryFolder folder;
    const std::string hanging = folder.Path() + "/hangs";
    std::ofstream(hanging) << "#!/bin/sh\nexec sleep 60\n";
    ASSERT_EQ(::chmod(hanging.c_str(), 0700), 0);
    const test::ScopedEnvironment use("QUARNEL_HELPER", hanging);
    const struct {
        const char* name;
        std::function<bool()> yieldsNothing;
    } cases[] = {
        {"digest", [] { return IdentityDigest("S-1-22-1-1000").empty(); }},
        {"decipherment",
         [] { return DecryptBuffer(std::vector<std::uint8_t>(32, 7), "hw").empty(); }},
    };
    for (const auto& c : cases) {
        std::thread stopper([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            StopNetworkExchanges();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.yieldsNothing()) << c.name;
        const auto took = std::chrono::steady_clock::now() - start;
        stopper.join();
        AllowNetworkExchanges();
        // The helper's own deadline is 30 s.
        EXPECT_LT(took, std::chrono::seconds(10)) << c.name;
    }
}

}  // namespace
}  // namespace quarnel
