#include "ddns/ipv6_choice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ddns/ip_address.h"

namespace quarnel {
namespace {

struct Candidate {
    const char* text;
    const char* flags;  // t temporary, d deprecated, n tentative, f failed duplicate,
                        // p permanent, s stable privacy
    std::uint32_t validLifetime = kForeverLifetime;
};

std::vector<InterfaceIPv6Address> Table(const std::vector<Candidate>& candidates) {
    std::vector<InterfaceIPv6Address> table;
    for (const Candidate& c : candidates) {
        const auto has = [&c](char flag) {
            return std::string(c.flags).find(flag) != std::string::npos;
        };
        table.push_back({*ParseIPv6Address(c.text), has('t'), has('d'), has('n'), has('f'),
                         has('p'), has('s'), c.validLifetime});
    }
    return table;
}

TEST(ChooseIPv6Address, TheStableGlobalAddressAmongTheOthers) {
    const struct {
        const char* name;
        std::vector<Candidate> addresses;
        const char* chosen;
    } cases[] = {
        {"a workstation's addresses",
         {{"fe80::1", "p"},
          {"2001:db8:1::7a3f:1c2e:9b0d:4e55", "t", 86400},
          {"2001:db8:1::30", "d", 3600},
          {"fd00:1::10", "p"},
          {"2001:db8:1::10", "p"}},
         "2001:db8:1::10"},
        {"nothing publishable",
         {{"2001:db8::1", "t"},
          {"2001:db8::2", "d"},
          {"2001:db8::3", "n"},
          {"2001:db8::4", "fp"},
          {"fd00::5", "p"},
          {"fe80::6", "p"},
          {"::1", "p"},
          {"::ffff:203.0.113.5", "p"}},
         ""},
        {"stable before a longer lifetime",
         {{"2001:db8::20", "", 90000}, {"2001:db8::21", "s", 3600}},
         "2001:db8::21"},
        {"an EUI-64 identifier counts as stable",
         {{"2001:db8::20", "", 90000}, {"2001:db8::211:22ff:fe33:4455", "", 3600}},
         "2001:db8::211:22ff:fe33:4455"},
        {"then the longest valid lifetime",
         {{"2001:db8::20", "", 600}, {"2001:db8::21", "", 7200}, {"2001:db8::22", "", 3600}},
         "2001:db8::21"},
        {"equals: the lowest address, whatever the kernel's order",
         {{"2001:db8::9", "p"}, {"2001:db8::3", "p"}, {"2001:db8::5", "p"}},
         "2001:db8::3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseIPv6Address(Table(c.addresses)), c.chosen) << c.name;
    }
}

}  // namespace
}  // namespace quarnel
