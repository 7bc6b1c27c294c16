// How quickly an address change wakes a wait on the address-change handle, and what the network
// filter costs per update cycle. Runs inside a network namespace of its own (root only): one
// veth pair with 198.51.100.10/24 and a default route via 198.51.100.1.

#include <benchmark/benchmark.h>
#include <net/if.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "libraries/src/adapter/change_events.h"
#include "network/network_filter.h"
#include "settings/registry.h"

namespace {

using namespace quarnel;

constexpr const char* kSettings = "SOFTWARE\\Quarnel Updater\\Settings";

struct NamespaceSetup {
    NamespaceSetup() {
        if (::geteuid() != 0) {
            problem = "needs root to create a network namespace";
            return;
        }
        if (::unshare(CLONE_NEWNET) != 0) {
            problem = std::string("cannot create a network namespace: ") + std::strerror(errno);
            return;
        }
        const std::string name = "qbench" + std::to_string(::getpid() % 100000);
        const std::string peer = "qpeer" + std::to_string(::getpid() % 100000);
        const std::string commands =
            "ip link set lo up && ip link add " + name + " type veth peer name " + peer +
            " && ip link set " + name + " up && ip link set " + peer + " up && ip addr add " +
            "198.51.100.10/24 dev " + name + " && ip route add default via 198.51.100.1";
        if (std::system(commands.c_str()) != 0) {
            problem = "cannot set up the veth pair";
            return;
        }
        interfaceIndex = static_cast<int>(::if_nametoindex(name.c_str()));

        char pattern[] = "/tmp/quarnel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("QUARNEL_ROOT", root.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", "/config", 1);
        CreateRegistryKey(RegistryHive::LocalMachine, kSettings);
        std::string local;
        for (int i = 0; i < 50; ++i) {
            local += "10.0." + std::to_string(i) + ".1\n";
        }
        local += "198.51.100.1\n";
        WriteRegistryDword(RegistryHive::LocalMachine, kSettings, "LocalFilter", 1);
        WriteRegistryMultiString(RegistryHive::LocalMachine, kSettings, "LocalNetworks", local);
        WriteRegistryDword(RegistryHive::LocalMachine, kSettings, "WirelessFilter", 1);
        WriteRegistryMultiString(RegistryHive::LocalMachine, kSettings, "WirelessNetworks",
                                 "HomeNet\nOfficeNet\n");

        sock = nl_socket_alloc();
        if (sock == nullptr || nl_connect(sock, NETLINK_ROUTE) < 0) {
            problem = "cannot open rtnetlink";
        }
    }
    ~NamespaceSetup() {
        if (sock != nullptr) {
            nl_socket_free(sock);
        }
        if (!root.empty()) {
            std::filesystem::remove_all(root);
        }
    }

    // Adds or removes 198.51.100.50/24 on the veth end; true on success.
    bool ChangeAddress(bool add) const {
        rtnl_addr* address = rtnl_addr_alloc();
        nl_addr* local = nullptr;
        nl_addr_parse("198.51.100.50/24", AF_INET, &local);
        rtnl_addr_set_ifindex(address, interfaceIndex);
        rtnl_addr_set_local(address, local);
        const int result =
            add ? rtnl_addr_add(sock, address, 0) : rtnl_addr_delete(sock, address, 0);
        nl_addr_put(local);
        rtnl_addr_put(address);
        return result >= 0;
    }

    std::string problem;
    std::string root;
    int interfaceIndex = 0;
    nl_sock* sock = nullptr;
};

NamespaceSetup& Setup() {
    static NamespaceSetup setup;
    return setup;
}

void BM_AddressAddedToWaitReturned(benchmark::State& state) {
    NamespaceSetup& setup = Setup();
    if (!setup.problem.empty()) {
        state.SkipWithError(setup.problem.c_str());
        return;
    }
    for (auto _ : state) {
        WaitHandle handle = AddressChangeEvent(-1);
        const auto start = std::chrono::steady_clock::now();
        if (!handle || !setup.ChangeAddress(true)) {
            state.SkipWithError("cannot add the address");
            return;
        }
        const std::uint32_t result = WaitForHandles(&handle, 1, 5000, false);
        const auto end = std::chrono::steady_clock::now();
        if (result != 0) {
            state.SkipWithError("the address change did not wake the wait");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        setup.ChangeAddress(false);
    }
}
BENCHMARK(BM_AddressAddedToWaitReturned)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_GetNetwork(benchmark::State& state) {
    if (!Setup().problem.empty()) {
        state.SkipWithError(Setup().problem.c_str());
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetNetwork());
    }
}
BENCHMARK(BM_GetNetwork)->Unit(benchmark::kMicrosecond);

void BM_TestNetworkBothFilters(benchmark::State& state) {
    if (!Setup().problem.empty()) {
        state.SkipWithError(Setup().problem.c_str());
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(TestNetwork());
    }
}
BENCHMARK(BM_TestNetworkBothFilters)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
