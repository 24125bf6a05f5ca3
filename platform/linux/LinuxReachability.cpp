#include "platform/linux/LinuxReachability.h"

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rivlo {

LinuxNetworkMonitor::LinuxNetworkMonitor(std::function<void()> check, double pollSeconds)
    : check_(std::move(check)),
      pollMillis_(pollSeconds > 0 ? static_cast<int>(pollSeconds * 1000) : 5000) {
    if (pollMillis_ < 1) pollMillis_ = 1;
    netlink_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (netlink_ >= 0) {
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE |
                            RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
        if (bind(netlink_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            close(netlink_);
            netlink_ = -1;
        }
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
        stopRead_ = fds[0];
        stopWrite_ = fds[1];
    }
    thread_ = std::thread([this] { run(); });
}

LinuxNetworkMonitor::~LinuxNetworkMonitor() {
    if (stopWrite_ >= 0) {
        const char byte = 's';
        while (write(stopWrite_, &byte, 1) < 0 && errno == EINTR) {
        }
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : {netlink_, stopRead_, stopWrite_}) {
        if (fd >= 0) close(fd);
    }
}

void LinuxNetworkMonitor::run() {
    char buffer[8192];
    for (;;) {
        pollfd targets[2] = {{stopRead_, POLLIN, 0}, {netlink_, POLLIN, 0}};
        const nfds_t count = netlink_ >= 0 ? 2 : 1;
        int ready = poll(targets, count, pollMillis_);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return;
        if ((targets[0].revents & (POLLIN | POLLHUP)) != 0) return;
        if (count == 2 && (targets[1].revents & POLLIN) != 0) {
            // Drain every pending announcement; one check covers them all.
            while (recv(netlink_, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
            }
        }
        check_();
    }
}

LinuxReachabilityTarget::LinuxReachabilityTarget(std::function<uint32_t()> read, double pollSeconds)
    : read_(std::move(read)), pollSeconds_(pollSeconds) {}

LinuxReachabilityTarget::~LinuxReachabilityTarget() {
    stop();
}

std::optional<uint32_t> LinuxReachabilityTarget::flags() const {
    return read_();
}

bool LinuxReachabilityTarget::start(std::function<void(uint32_t flags)> onChange) {
    stop();
    auto delivery = std::make_shared<Delivery>();
    delivery->onChange = std::move(onChange);
    const uint32_t initial = read_();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastFlags_ = initial;
        delivery_ = delivery;
    }
    auto monitor = std::make_unique<LinuxNetworkMonitor>([this] { check(); }, pollSeconds_);
    {
        // A start racing with this one may have put its monitor in first: the older one is
        // joined outside the lock, since its thread takes the lock to check.
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(monitor_, monitor);
    }
    monitor.reset();
    return true;
}

void LinuxReachabilityTarget::stop() {
    std::unique_ptr<LinuxNetworkMonitor> monitor;
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        monitor = std::move(monitor_);
        delivery = std::move(delivery_);
    }
    if (delivery) delivery->active.store(false);
    monitor.reset();  // joins the monitor thread, outside the lock
}

// On the monitor thread.
void LinuxReachabilityTarget::check() {
    const uint32_t current = read_();
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current == lastFlags_) return;
        lastFlags_ = current;
        delivery = delivery_;
    }
    if (!delivery) return;
    RunLoop::main().post([delivery, current] {
        if (delivery->active.load() && delivery->onChange) delivery->onChange(current);
    });
}

LinuxReachabilitySource::LinuxReachabilitySource(LinuxNetworkPaths paths, double pollSeconds)
    : paths_(std::move(paths)), pollSeconds_(pollSeconds) {}

std::shared_ptr<ReachabilityTarget> LinuxReachabilitySource::targetForZeroAddress() {
    LinuxNetworkPaths paths = paths_;
    return std::make_shared<LinuxReachabilityTarget>(
        [paths] { return LinuxNetworkState::flagsForZeroAddress(paths); }, pollSeconds_);
}

std::shared_ptr<ReachabilityTarget> LinuxReachabilitySource::targetForAddress(
    const std::string& ipv4) {
    in_addr parsed{};
    if (inet_pton(AF_INET, ipv4.c_str(), &parsed) != 1) {
        RVLog("Rivlo: not an IPv4 address for reachability: \"%s\"", ipv4.c_str());
        return nullptr;
    }
    LinuxNetworkPaths paths = paths_;
    return std::make_shared<LinuxReachabilityTarget>(
        [paths, ipv4] { return LinuxNetworkState::flagsForAddress(ipv4, paths); }, pollSeconds_);
}

std::shared_ptr<ReachabilityTarget> LinuxReachabilitySource::targetForHostName(
    const std::string& host) {
    if (host.empty()) return nullptr;
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) == 1) return targetForAddress(host);
    if (host == "localhost" || host.ends_with(".localhost")) return targetForAddress("127.0.0.1");
    return targetForZeroAddress();
}

}  // namespace rivlo
