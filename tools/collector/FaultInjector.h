#pragma once

#include <mutex>
#include <random>
#include <string>

#include "CollectorConfig.h"

namespace rivlo::collector {

// Draws the faults of one request from the configured shares. Any request thread.
class FaultInjector {
  public:
    enum class Outcome { None, Fail, Reset };

    struct Plan {
        Outcome outcome = Outcome::None;
        int delayMs = 0;               // hold the answer back this long
        bool malformedVerify = false;  // only used by verification
    };

    explicit FaultInjector(const FaultConfig& config);

    Plan draw();
    // Whether uploads of this file are refused (always the same answer for the same name).
    bool refuses(const std::string& fileName) const;
    bool enabled() const { return config_.enabled(); }

  private:
    FaultConfig config_;
    std::mutex mutex_;
    std::mt19937_64 random_;
};

}  // namespace rivlo::collector
