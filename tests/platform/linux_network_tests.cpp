#include "foundation/RunLoop.h"
#include "linux_test_files.h"
#include "platform/Reachability.h"
#include "platform/linux/LinuxNetworkState.h"
#include "platform/linux/LinuxReachability.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace rivlo::test {
namespace {

const char* kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

std::string ipv4Route(const std::string& iface, const std::string& destination,
                      const std::string& mask, const std::string& flags, int metric) {
    return iface + "\t" + destination + "\t010200C0\t" + flags + "\t0\t0\t" +
           std::to_string(metric) + "\t" + mask + "\t0\t0\t0\n";
}

std::string defaultRoute(const std::string& iface, int metric = 100) {
    return ipv4Route(iface, "00000000", "00000000", "0003", metric);
}

// A fake /proc and /sys for the kernel's view of the network.
class NetworkTree {
  public:
    LinuxNetworkPaths paths() const { return {tree.path("proc"), tree.path("sys")}; }

    void link(const std::string& name, const std::string& operstate = "up", int type = 1,
              const std::string& flags = "0x1003", const std::string& uevent = "") {
        const std::string folder = "sys/class/net/" + name + "/";
        tree.write(folder + "flags", flags + "\n");
        tree.write(folder + "operstate", operstate + "\n");
        tree.write(folder + "type", std::to_string(type) + "\n");
        tree.write(folder + "uevent", "INTERFACE=" + name + "\n" + uevent);
    }
    void routes(const std::string& lines) { tree.write("proc/net/route", kRouteHeader + lines); }
    void ipv6Routes(const std::string& lines) { tree.write("proc/net/ipv6_route", lines); }

    LinuxTestTree tree;
};

TEST(LinuxNetworkState, EthernetWithDefaultRouteIsReachableNotCellular) {
    NetworkTree net;
    net.link("lo", "unknown", 772, "0x9");
    net.link("eth0");
    net.routes(defaultRoute("eth0") + ipv4Route("eth0", "000200C0", "00FFFFFF", "0001", 0));
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 1);
    EXPECT_EQ(LinuxNetworkState::flagsForZeroAddress(net.paths()), ReachabilityFlag::Reachable);
}

TEST(LinuxNetworkState, NoUsableDefaultRouteIsNotReachable) {
    NetworkTree net;
    net.link("lo", "unknown", 772, "0x9");
    net.link("eth0", "down");
    net.link("eth1", "up", 1, "0x1002");  // administratively down
    // Only a subnet route on a working link, defaults on links that are down or loopback, a
    // default route that is not up and one that rejects.
    net.link("eth2");
    net.routes(defaultRoute("eth0") + defaultRoute("eth1") + defaultRoute("lo") +
               ipv4Route("eth2", "000200C0", "00FFFFFF", "0001", 0) +
               ipv4Route("eth2", "00000000", "00000000", "0000", 5) +
               ipv4Route("eth2", "00000000", "00000000", "0201", 5) + defaultRoute("gone0"));
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 0);
    EXPECT_EQ(LinuxNetworkState::flagsForZeroAddress(net.paths()), 0u);

    NetworkTree empty;  // no route files at all
    EXPECT_EQ(LinuxNetworkState::status(empty.paths()), 0);
}

TEST(LinuxNetworkState, WwanAndPointToPointLinksAreCellular) {
    NetworkTree wwan;
    wwan.link("wwan0", "unknown", 519);
    wwan.routes(defaultRoute("wwan0"));
    EXPECT_EQ(LinuxNetworkState::status(wwan.paths()), 2);
    EXPECT_EQ(LinuxNetworkState::flagsForZeroAddress(wwan.paths()),
              ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN);

    NetworkTree modem;  // a USB modem named like ethernet but announced as WWAN
    modem.link("usb0", "up", 1, "0x1003", "DEVTYPE=wwan\n");
    modem.routes(defaultRoute("usb0"));
    EXPECT_EQ(LinuxNetworkState::status(modem.paths()), 2);

    NetworkTree ppp;
    ppp.link("ppp0", "unknown", 512, "0x10d1");
    ppp.routes(defaultRoute("ppp0"));
    EXPECT_EQ(LinuxNetworkState::status(ppp.paths()), 2);
}

TEST(LinuxNetworkState, LowestMetricDefaultRouteDecidesTheKind) {
    NetworkTree net;
    net.link("wlan0");
    net.link("wwan0", "up", 519);
    net.routes(defaultRoute("wwan0", 700) + defaultRoute("wlan0", 600));
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 1);
    net.routes(defaultRoute("wwan0", 100) + defaultRoute("wlan0", 600));
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 2);
    net.link("wwan0", "down", 519);  // the modem drops: Wi-Fi carries on
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 1);
}

TEST(LinuxNetworkState, Ipv6DefaultRouteCounts) {
    NetworkTree net;
    net.link("lo", "unknown", 772, "0x9");
    net.link("eth0");
    net.routes("");
    net.ipv6Routes(
        // the loopback's unreachable default and a link-local route, then the real default
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n"
        "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 00000100 00000002 00000000 00000001     eth0\n");
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 0);
    net.ipv6Routes(
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "fd000000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n");
    EXPECT_EQ(LinuxNetworkState::status(net.paths()), 1);
}

TEST(LinuxNetworkState, MalformedRouteLinesAreSkipped) {
    const std::string text = std::string(kRouteHeader) + "eth0\tZZZZZZZZ\t0\t0003\t0\t0\t0\t0\n" +
                             "short line\n" + "\n" + defaultRoute("eth1", 42) +
                             "eth2\t00000000\t0\t0003\t0\t0\tnotanumber\t00000000\n";
    auto routes = LinuxNetworkState::ipv4Routes(text);
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes[0].interface, "eth1");
    EXPECT_EQ(routes[0].metric, 42u);
    EXPECT_TRUE(routes[0].isDefault);
    EXPECT_TRUE(LinuxNetworkState::ipv6Routes("garbage\n00 11 22\n").empty());
    // An interface name that tries to leave /sys/class/net is no interface.
    EXPECT_FALSE(LinuxNetworkState::interface("../../etc").exists);
}

TEST(LinuxNetworkState, AddressFlagsFollowTheMostSpecificRoute) {
    NetworkTree net;
    net.link("eth0");
    net.link("wwan0", "up", 519);
    // 192.0.2.0/24 on eth0; default through the modem.
    net.routes(ipv4Route("eth0", "000200C0", "00FFFFFF", "0001", 0) + defaultRoute("wwan0"));
    EXPECT_EQ(LinuxNetworkState::flagsForAddress("192.0.2.77", net.paths()),
              ReachabilityFlag::Reachable);
    EXPECT_EQ(LinuxNetworkState::flagsForAddress("198.51.100.1", net.paths()),
              ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN);
    EXPECT_EQ(LinuxNetworkState::flagsForAddress("127.0.0.1", net.paths()),
              ReachabilityFlag::Reachable | ReachabilityFlag::IsLocalAddress |
                  ReachabilityFlag::IsDirect);
    EXPECT_EQ(LinuxNetworkState::flagsForAddress("not an address", net.paths()), 0u);
    net.routes(ipv4Route("eth0", "000200C0", "00FFFFFF", "0001", 0));
    EXPECT_EQ(LinuxNetworkState::flagsForAddress("198.51.100.1", net.paths()), 0u);
}

TEST(LinuxReachabilitySource, TargetsForAddressesAndHosts) {
    NetworkTree net;
    net.link("eth0");
    net.routes(defaultRoute("eth0"));
    LinuxReachabilitySource source(net.paths(), 0.05);
    EXPECT_EQ(source.targetForZeroAddress()->flags(), ReachabilityFlag::Reachable);
    EXPECT_EQ(source.targetForHostName("service.example.com")->flags(),
              ReachabilityFlag::Reachable);
    auto local = source.targetForHostName("localhost");
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE((*local->flags() & ReachabilityFlag::IsLocalAddress) != 0);
    EXPECT_EQ(source.targetForAddress("300.1.2.3"), nullptr);
    EXPECT_EQ(source.targetForHostName(""), nullptr);
}

// The monitor notices the kernel state change and reports on the main run loop; after stop()
// nothing more arrives.
TEST(LinuxReachabilitySource, MonitorReportsChangesOnTheMainRunLoop) {
    RunLoop::main().setMainThread();
    NetworkTree net;
    net.link("eth0");
    net.link("wwan0", "down", 519);
    net.routes(defaultRoute("eth0", 100) + defaultRoute("wwan0", 50));
    LinuxReachabilitySource source(net.paths(), 0.02);
    auto target = source.targetForZeroAddress();
    std::vector<uint32_t> seen;
    std::atomic<bool> wrongThread{false};
    ASSERT_TRUE(target->start([&](uint32_t flags) {
        if (!RunLoop::isMainThread()) wrongThread = true;
        seen.push_back(flags);
    }));

    net.link("eth0", "down");
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return !seen.empty(); }, 10.0));
    EXPECT_EQ(seen.back(), 0u);

    net.link("wwan0", "up", 519);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return seen.size() >= 2; }, 10.0));
    EXPECT_EQ(seen.back(), ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN);
    EXPECT_FALSE(wrongThread);

    target->stop();
    const size_t count = seen.size();
    net.link("eth0", "up");
    net.link("wwan0", "down", 519);
    // Give a would-be report every chance to arrive: the flags change and the main loop runs.
    EXPECT_FALSE(RunLoop::main().runUntil([&] { return seen.size() > count; }, 0.3));
    EXPECT_EQ(target->flags(), ReachabilityFlag::Reachable);
}

TEST(LinuxNetworkMonitor, ChecksRepeatedlyUntilDestroyed) {
    std::atomic<int> checks{0};
    {
        // Netlink may be refused in a sandbox; the poll interval alone must keep checking.
        LinuxNetworkMonitor monitor([&] { ++checks; }, 0.01);
        EXPECT_TRUE(RunLoop::main().runUntil([&] { return checks.load() >= 3; }, 10.0));
    }
}

}  // namespace
}  // namespace rivlo::test
