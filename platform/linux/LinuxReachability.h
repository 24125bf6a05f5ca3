#pragma once

#include "platform/Reachability.h"
#include "platform/linux/LinuxNetworkState.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace rivlo {

// Watches the kernel's network state on a thread of its own: calls `check` whenever the kernel
// announces a link, address or route change (a netlink route socket), and in any case every
// `pollSeconds` (the only source when netlink is not available, and for state read from files
// that are not the kernel's). Destruction stops and joins the thread; `check` must not destroy
// the monitor.
class LinuxNetworkMonitor {
  public:
    LinuxNetworkMonitor(std::function<void()> check, double pollSeconds);
    ~LinuxNetworkMonitor();
    LinuxNetworkMonitor(const LinuxNetworkMonitor&) = delete;
    LinuxNetworkMonitor& operator=(const LinuxNetworkMonitor&) = delete;

    bool usesNetlink() const { return netlink_ >= 0; }

  private:
    void run();
    std::function<void()> check_;
    int pollMillis_;
    int netlink_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::thread thread_;
};

// One reachability target whose flags come from a function over the kernel's state.
class LinuxReachabilityTarget : public ReachabilityTarget,
                                public std::enable_shared_from_this<LinuxReachabilityTarget> {
  public:
    LinuxReachabilityTarget(std::function<uint32_t()> read, double pollSeconds);
    ~LinuxReachabilityTarget() override;

    // Any thread.
    std::optional<uint32_t> flags() const override;
    // Changes are delivered on the main run loop; a callback already posted when stop() runs
    // is dropped. Starting again replaces the callback.
    bool start(std::function<void(uint32_t flags)> onChange) override;
    void stop() override;

  private:
    void check();
    struct Delivery {
        std::atomic<bool> active{true};
        std::function<void(uint32_t)> onChange;
    };
    std::function<uint32_t()> read_;
    double pollSeconds_;
    std::mutex mutex_;
    uint32_t lastFlags_ = 0;
    std::shared_ptr<Delivery> delivery_;
    std::unique_ptr<LinuxNetworkMonitor> monitor_;
};

// Reachability targets for a Linux machine. Host names are not resolved: a host is reachable
// when the network is (the default route decides), "localhost" always. Any thread.
class LinuxReachabilitySource : public ReachabilitySource {
  public:
    explicit LinuxReachabilitySource(LinuxNetworkPaths paths = {}, double pollSeconds = 5.0);

    std::shared_ptr<ReachabilityTarget> targetForZeroAddress() override;
    std::shared_ptr<ReachabilityTarget> targetForAddress(const std::string& ipv4) override;
    std::shared_ptr<ReachabilityTarget> targetForHostName(const std::string& host) override;

  private:
    LinuxNetworkPaths paths_;
    double pollSeconds_;
};

}  // namespace rivlo
