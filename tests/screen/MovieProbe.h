#pragma once

#include "movieprobe/MovieProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

// A player seeking anywhere in a movie finds a key frame at most a second before: every frame a
// second or more after the last key frame is one itself, so consecutive key frames lie at most a
// second plus one frame interval (`frameInterval`, the longest gap between frames) apart. The
// decoder's key pictures and the container's sync samples are the same frames. Returns the gaps
// between consecutive key frames, in seconds.
inline std::vector<double> expectKeyFramesAtMostASecondApart(const MovieProbe& movie,
                                                             double frameInterval) {
    std::vector<double> gaps, keys;
    if (movie.frames.empty()) {
        ADD_FAILURE() << "no frames";
        return gaps;
    }
    EXPECT_TRUE(movie.frames.front().keyFrame) << "the first frame is not a key frame";
    double lastKey = movie.frames.front().seconds;
    for (size_t i = 0; i < movie.frames.size(); ++i) {
        const auto& f = movie.frames[i];
        if (f.keyFrame) {
            if (i > 0) gaps.push_back(f.seconds - lastKey);
            lastKey = f.seconds;
            keys.push_back(f.seconds);
        } else {
            EXPECT_LT(f.seconds - lastKey, 1.0 - 1e-6)
                << "no key frame at " << f.seconds << " s, the last one at " << lastKey << " s";
        }
    }
    for (double gap : gaps)
        EXPECT_LE(gap, 1.0 + frameInterval + 1e-6);
    EXPECT_EQ(movie.keyPacketSeconds.size(), keys.size());
    for (size_t i = 0; i < std::min(keys.size(), movie.keyPacketSeconds.size()); ++i)
        EXPECT_NEAR(movie.keyPacketSeconds[i], keys[i], 1e-6) << "sync sample " << i;
    return gaps;
}

inline std::string describeGaps(const std::vector<double>& gaps) {
    std::string text;
    for (double gap : gaps)
        text += (text.empty() ? "" : " ") + std::to_string(gap).substr(0, 5);
    return text;
}

}  // namespace rivlo::test
