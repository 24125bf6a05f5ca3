#pragma once

#include "foundation/RunLoop.h"
#include "platform/Platform.h"
#include "platform/headless/HeadlessPlatform.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace rivlo::test {

// A loopback server, the headless device installed (its facts feed the default headers), and
// the test thread as the main thread.
class HTTPTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::main().setMainThread();
        HeadlessProfile profile;
        profile.preferredLanguages = {"fr", "de"};
        profile.bundle.executable = "DemoApp";
        profile.bundle.version = "3.1";
        profile.model = "iPhone";
        profile.systemVersion = "8.1";
        profile.screenScale = 2.0;
        platform = HeadlessPlatform::install(profile);
    }
    void TearDown() override {
        // Let callbacks already queued run before the next test.
        RunLoop::main().runPending();
        platform.reset();
    }

    // Drives the main run loop until the predicate holds (true) or 10 seconds pass.
    static bool runUntil(const std::function<bool()>& predicate,
                         std::chrono::duration<double> timeout = std::chrono::seconds(10)) {
        return RunLoop::main().runUntil(predicate, timeout);
    }
    // Drives the main run loop for a while to show that something does not happen.
    static void runFor(std::chrono::duration<double> time) {
        RunLoop::main().runUntil([] { return false; }, time);
    }

    LoopbackHTTPServer server;
    std::shared_ptr<HeadlessPlatform> platform;
};

}  // namespace rivlo::test
