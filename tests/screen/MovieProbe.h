#pragma once

#include "movieprobe/MovieProbe.h"

#include <chrono>
#include <functional>
#include <thread>

namespace rivlo::test {

using media::DecodedFrame;
using media::MovieProbe;

// Polls the predicate every few milliseconds until it holds or the timeout passes.
inline bool waitUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace rivlo::test
