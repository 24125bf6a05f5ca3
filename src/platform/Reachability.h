#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace rivlo {

// Reachability flags as the platform reports them.
namespace ReachabilityFlag {
inline constexpr uint32_t TransientConnection = 1u << 0;
inline constexpr uint32_t Reachable = 1u << 1;
inline constexpr uint32_t ConnectionRequired = 1u << 2;
inline constexpr uint32_t ConnectionOnTraffic = 1u << 3;
inline constexpr uint32_t InterventionRequired = 1u << 4;
inline constexpr uint32_t ConnectionOnDemand = 1u << 5;
inline constexpr uint32_t IsLocalAddress = 1u << 16;
inline constexpr uint32_t IsDirect = 1u << 17;
inline constexpr uint32_t IsWWAN = 1u << 18;  // cellular
}  // namespace ReachabilityFlag

// One monitored target (an address or a host name).
class ReachabilityTarget {
  public:
    virtual ~ReachabilityTarget() = default;
    // The current flags; nullopt when they cannot be read. Any thread.
    virtual std::optional<uint32_t> flags() const = 0;
    // Calls `onChange` with the new flags on the main run loop whenever they change, until
    // stop() or destruction. Answers false when monitoring cannot start. Any thread.
    virtual bool start(std::function<void(uint32_t flags)> onChange) = 0;
    virtual void stop() = 0;
};

// Creates targets. Null when the platform refuses. Any thread.
class ReachabilitySource {
  public:
    virtual ~ReachabilitySource() = default;
    // The zero IPv4 address (0.0.0.0): "is there any network".
    virtual std::shared_ptr<ReachabilityTarget> targetForZeroAddress() = 0;
    // A dotted IPv4 address text.
    virtual std::shared_ptr<ReachabilityTarget> targetForAddress(const std::string& ipv4) = 0;
    virtual std::shared_ptr<ReachabilityTarget> targetForHostName(const std::string& host) = 0;
};

}  // namespace rivlo
