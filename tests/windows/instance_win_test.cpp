// Instance markers as named semaphores.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/instance.h"

namespace quarnel {
namespace {

TEST(InstanceWin, AMarkerIsHeldOnceAndFreeAgainWhenItsHolderLetsGo) {
    const char* kGuid = "{0A1B2C3D-0000-4000-8000-00000000C0DE}";
    for (const std::optional<std::uint32_t> user :
         {std::optional<std::uint32_t>(1u), std::optional<std::uint32_t>()}) {
        InstanceMarker first;
        ASSERT_EQ(ClaimInstanceMarker(kGuid, user, first), InstanceClaim::Held);
        InstanceMarker second;
        EXPECT_EQ(ClaimInstanceMarker(kGuid, user, second), InstanceClaim::HeldElsewhere);
        first.lock.Reset();
        EXPECT_EQ(ClaimInstanceMarker(kGuid, user, second), InstanceClaim::Held);
    }
}

}  // namespace
}  // namespace quarnel
