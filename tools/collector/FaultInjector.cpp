#include "FaultInjector.h"

#include <chrono>

namespace rivlo::collector {

FaultInjector::FaultInjector(const FaultConfig& config)
    : config_(config),
      random_(config.seed != 0 ? config.seed
                               : static_cast<uint64_t>(
                                     std::chrono::steady_clock::now().time_since_epoch().count())) {
}

FaultInjector::Plan FaultInjector::draw() {
    Plan plan;
    if (!config_.enabled()) return plan;
    double outcome = 0, delay = 0, malformed = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::uniform_real_distribution<double> share(0.0, 1.0);
        outcome = share(random_);
        delay = share(random_);
        malformed = share(random_);
    }
    if (outcome < config_.failShare) {
        plan.outcome = Outcome::Fail;
    } else if (outcome < config_.failShare + config_.resetShare) {
        plan.outcome = Outcome::Reset;
    }
    if (delay < config_.delayShare) plan.delayMs = config_.delayMs;
    plan.malformedVerify = malformed < config_.malformedVerifyShare;
    return plan;
}

bool FaultInjector::refuses(const std::string& fileName) const {
    if (config_.refuseShare <= 0) return false;
    // FNV-1a over the seed and the name: stable across runs with the same seed.
    uint64_t hash = 1469598103934665603ull ^ config_.seed;
    for (unsigned char c : fileName) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return static_cast<double>(hash % 1000000) / 1000000.0 < config_.refuseShare;
}

}  // namespace rivlo::collector
