// The information elements of a wireless association: the SSID read from arbitrary element
// lists, and what other elements around it change.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/wireless_elements.h"

namespace quarnel {
namespace {

std::string Ssid(const std::vector<std::uint8_t>& elements) {
    return SsidFromInformationElements(elements.data(), elements.size());
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::vector<std::uint8_t> elements(data, data + size);
    const std::string ssid = Ssid(elements);
    FUZZ_CHECK(ssid.size() <= kMaximumSsidLength);
    FUZZ_CHECK(SsidFromInformationElements(nullptr, size).empty());

    // A found SSID is the start of an SSID element's bytes in the list.
    if (!ssid.empty()) {
        bool found = false;
        for (std::size_t at = 0; !found && at + 2 + ssid.size() <= size; ++at) {
            found =
                data[at] == 0 && data[at + 1] >= ssid.size() &&
                (data[at + 1] <= kMaximumSsidLength ? data[at + 1] == ssid.size()
                                                    : ssid.size() == kMaximumSsidLength) &&
                std::equal(ssid.begin(), ssid.end(), reinterpret_cast<const char*>(data) + at + 2);
        }
        FUZZ_CHECK(found);
        // What follows a found SSID does not matter.
        std::vector<std::uint8_t> longer = elements;
        longer.insert(longer.end(), {0, 3, 'x', 'y', 'z', 0xDD});
        FUZZ_CHECK(Ssid(longer) == ssid);
    }

    // A whole element of another kind in front changes nothing; an SSID element in front wins.
    const std::size_t length = size > 0 ? data[0] % 64 : 0;
    std::vector<std::uint8_t> vendor{221, static_cast<std::uint8_t>(length)};
    vendor.resize(2 + length, 0x50);
    vendor.insert(vendor.end(), elements.begin(), elements.end());
    FUZZ_CHECK(Ssid(vendor) == ssid);

    std::vector<std::uint8_t> named{0, static_cast<std::uint8_t>(std::min<std::size_t>(size, 255))};
    named.insert(named.end(), data, data + named[1]);
    const std::string expected(reinterpret_cast<const char*>(data),
                               std::min<std::size_t>(named[1], kMaximumSsidLength));
    named.insert(named.end(), elements.begin(), elements.end());
    FUZZ_CHECK(Ssid(named) == expected);
    return 0;
}
