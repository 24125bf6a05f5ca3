#include "platform/linux/LinuxNetworkState.h"

#include "platform/Reachability.h"

#include <fstream>
#include <map>
#include <sstream>

#include <arpa/inet.h>

namespace rivlo {
namespace {

constexpr uint32_t kRouteUp = 0x0001;         // RTF_UP
constexpr uint32_t kRouteReject = 0x0200;     // RTF_REJECT
constexpr unsigned kInterfaceUp = 0x1;        // IFF_UP
constexpr unsigned kInterfaceLoopback = 0x8;  // IFF_LOOPBACK
constexpr int kTypeLoopback = 772;            // ARPHRD_LOOPBACK
constexpr int kTypePointToPoint = 512;        // ARPHRD_PPP
constexpr int kTypeRawIp = 519;               // ARPHRD_RAWIP (cellular modems in raw-IP mode)

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool parseHex(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    try {
        size_t used = 0;
        unsigned long parsed = std::stoul(text, &used, 16);
        if (used != text.size()) return false;
        value = static_cast<uint32_t>(parsed);
        return true;
    } catch (...) {
        return false;
    }
}

// An interface can carry traffic out of the machine.
bool usable(const LinuxInterface& link) {
    return link.exists && link.up && !link.loopback;
}

// The preferred usable route among those accepted by `matches`: longest prefix, then lowest
// metric (IPv4 before IPv6 on a tie).
template <class Matches>
std::optional<LinuxInterface> preferredInterface(const LinuxNetworkPaths& paths, Matches matches) {
    std::map<std::string, LinuxInterface> links;
    std::optional<LinuxInterface> best;
    uint32_t bestMask = 0;
    uint32_t bestMetric = 0;
    for (const LinuxRoute& route : LinuxNetworkState::routes(paths)) {
        if (!route.up || route.reject || !matches(route)) continue;
        auto found = links.find(route.interface);
        if (found == links.end()) {
            found =
                links.emplace(route.interface, LinuxNetworkState::interface(route.interface, paths))
                    .first;
        }
        if (!usable(found->second)) continue;
        const uint32_t mask = ntohl(route.mask);
        if (!best || mask > bestMask || (mask == bestMask && route.metric < bestMetric)) {
            best = found->second;
            bestMask = mask;
            bestMetric = route.metric;
        }
    }
    return best;
}

}  // namespace

std::vector<LinuxRoute> LinuxNetworkState::ipv4Routes(const std::string& text) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    std::vector<LinuxRoute> routes;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refs, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask)) {
            continue;
        }
        LinuxRoute route;
        uint32_t flagBits = 0;
        uint32_t metricValue = 0;
        if (!parseHex(destination, route.destination) || !parseHex(mask, route.mask) ||
            !parseHex(flags, flagBits)) {
            continue;
        }
        try {
            metricValue = static_cast<uint32_t>(std::stoul(metric));
        } catch (...) {
            continue;
        }
        route.interface = name;
        route.metric = metricValue;
        route.up = (flagBits & kRouteUp) != 0;
        route.reject = (flagBits & kRouteReject) != 0;
        route.isDefault = route.destination == 0 && route.mask == 0;
        routes.push_back(route);
    }
    return routes;
}

std::vector<LinuxRoute> LinuxNetworkState::ipv6Routes(const std::string& text) {
    // destination prefix-length source source-length next-hop metric refs use flags iface
    std::vector<LinuxRoute> routes;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refs, use, flags,
            name;
        if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
              refs >> use >> flags >> name)) {
            continue;
        }
        uint32_t prefixLength = 0;
        uint32_t flagBits = 0;
        LinuxRoute route;
        if (destination.size() != 32 || !parseHex(prefix, prefixLength) ||
            !parseHex(flags, flagBits) || !parseHex(metric, route.metric)) {
            continue;
        }
        route.interface = name;
        route.ipv6 = true;
        route.up = (flagBits & kRouteUp) != 0;
        route.reject = (flagBits & kRouteReject) != 0;
        route.isDefault =
            prefixLength == 0 && destination.find_first_not_of('0') == std::string::npos;
        routes.push_back(route);
    }
    return routes;
}

std::vector<LinuxRoute> LinuxNetworkState::routes(const LinuxNetworkPaths& paths) {
    std::vector<LinuxRoute> all;
    if (auto text = readText(paths.proc + "/net/route")) all = ipv4Routes(*text);
    if (auto text = readText(paths.proc + "/net/ipv6_route")) {
        auto more = ipv6Routes(*text);
        all.insert(all.end(), more.begin(), more.end());
    }
    return all;
}

LinuxInterface LinuxNetworkState::interface(const std::string& name,
                                            const LinuxNetworkPaths& paths) {
    LinuxInterface link;
    link.name = name;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return link;
    }
    const std::string folder = paths.sys + "/class/net/" + name;
    std::optional<std::string> flagsText = readText(folder + "/flags");
    if (!flagsText) return link;
    link.exists = true;
    unsigned flags = 0;
    try {
        flags = static_cast<unsigned>(std::stoul(firstLine(*flagsText), nullptr, 16));
    } catch (...) {
        flags = 0;
    }
    int type = 0;
    if (auto typeText = readText(folder + "/type")) {
        try {
            type = std::stoi(firstLine(*typeText));
        } catch (...) {
            type = 0;
        }
    }
    // "unknown" is what links without carrier detection (PPP, tunnels) report while working.
    std::string operstate = "unknown";
    if (auto stateText = readText(folder + "/operstate")) operstate = firstLine(*stateText);
    bool wwan = name.rfind("wwan", 0) == 0;
    if (auto uevent = readText(folder + "/uevent")) {
        wwan = wwan || uevent->find("DEVTYPE=wwan") != std::string::npos;
    }
    link.loopback = (flags & kInterfaceLoopback) != 0 || type == kTypeLoopback;
    link.up = (flags & kInterfaceUp) != 0 && (operstate == "up" || operstate == "unknown");
    link.cellular = wwan || type == kTypePointToPoint || type == kTypeRawIp;
    return link;
}

int LinuxNetworkState::status(const LinuxNetworkPaths& paths) {
    auto best = preferredInterface(paths, [](const LinuxRoute& route) { return route.isDefault; });
    if (!best) return 0;
    return best->cellular ? 2 : 1;
}

uint32_t LinuxNetworkState::flagsForStatus(int status) {
    if (status == 1) return ReachabilityFlag::Reachable;
    if (status == 2) return ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN;
    return 0;
}

uint32_t LinuxNetworkState::flagsForZeroAddress(const LinuxNetworkPaths& paths) {
    return flagsForStatus(status(paths));
}

uint32_t LinuxNetworkState::flagsForAddress(const std::string& ipv4,
                                            const LinuxNetworkPaths& paths) {
    in_addr address{};
    if (inet_pton(AF_INET, ipv4.c_str(), &address) != 1) return 0;
    if (address.s_addr == 0) return flagsForZeroAddress(paths);
    if ((ntohl(address.s_addr) >> 24) == 127) {
        return ReachabilityFlag::Reachable | ReachabilityFlag::IsLocalAddress |
               ReachabilityFlag::IsDirect;
    }
    const uint32_t target = address.s_addr;
    auto best = preferredInterface(paths, [target](const LinuxRoute& route) {
        return !route.ipv6 && (target & route.mask) == route.destination;
    });
    if (!best) return 0;
    return flagsForStatus(best->cellular ? 2 : 1);
}

}  // namespace rivlo
