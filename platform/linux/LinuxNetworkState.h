#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// Where the kernel's network state is read; tests point these at folders of their own.
struct LinuxNetworkPaths {
    std::string proc = "/proc";  // net/route, net/ipv6_route
    std::string sys = "/sys";    // class/net/<interface>/{flags,operstate,type,uevent}
};

// One network interface as the kernel describes it.
struct LinuxInterface {
    std::string name;
    bool exists = false;
    bool up = false;  // administratively up and its link not down
    bool loopback = false;
    bool cellular = false;  // a WWAN device, or a point-to-point (PPP, raw IP) modem link
};

// One route of the kernel's main table, IPv4 or IPv6.
struct LinuxRoute {
    std::string interface;
    bool ipv6 = false;
    bool isDefault = false;
    uint32_t destination = 0;  // IPv4, network byte order as stored
    uint32_t mask = 0;         // IPv4, network byte order as stored
    uint32_t metric = 0;
    bool up = false;
    bool reject = false;
};

// Reachability from the kernel's routing and link state: the network is reachable when an
// interface that is up and not the loopback carries a default route; it is cellular when the
// interface of the preferred such route (lowest metric) is a cellular one. Any thread.
class LinuxNetworkState {
  public:
    // 0 not reachable, 1 reachable and not cellular, 2 reachable through a cellular link.
    static int status(const LinuxNetworkPaths& paths = {});
    // The reachability flags of the zero address ("any network").
    static uint32_t flagsForZeroAddress(const LinuxNetworkPaths& paths = {});
    // The flags of one IPv4 address (dotted text): loopback addresses are local and always
    // reachable; others by the most specific usable route. 0 for text that is no address.
    static uint32_t flagsForAddress(const std::string& ipv4, const LinuxNetworkPaths& paths = {});

    static LinuxInterface interface(const std::string& name, const LinuxNetworkPaths& paths = {});
    // The routes of /proc/net/route and /proc/net/ipv6_route text. Malformed lines are skipped.
    static std::vector<LinuxRoute> ipv4Routes(const std::string& text);
    static std::vector<LinuxRoute> ipv6Routes(const std::string& text);
    static std::vector<LinuxRoute> routes(const LinuxNetworkPaths& paths = {});

    // The flags for a status (0 → none; 1 → reachable; 2 → reachable and cellular).
    static uint32_t flagsForStatus(int status);
};

}  // namespace rivlo
