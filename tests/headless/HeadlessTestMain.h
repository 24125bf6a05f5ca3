#pragma once

#include "foundation/RunLoop.h"
#include "platform/headless/HeadlessPlatform.h"

#include <gtest/gtest.h>

namespace rivlo::testing {

// Each test gets a fresh headless device installed into the platform registry, on the test
// thread as the main thread.
class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::main().setMainThread();
        RunLoop::main().runPending();
        HeadlessProfile profile;
        profile.screenBounds = Rect(0, 0, 320, 568);
        profile.screenScale = 2.0;
        profile.sandboxDirectory = ::testing::TempDir() + "headless-sandbox";
        platform = HeadlessPlatform::install(profile);
    }
    void TearDown() override {
        RunLoop::main().runPending();
        platform.reset();
    }
    std::shared_ptr<HeadlessPlatform> platform;
};

inline bool isColor(const Image::Pixel& p, uint8_t r, uint8_t g, uint8_t b, int tolerance = 2) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
           std::abs(p.b - b) <= tolerance;
}

}  // namespace rivlo::testing
