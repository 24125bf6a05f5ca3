#pragma once

#include "foundation/RunLoop.h"
#include "platform/Platform.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace rivlo::test {

// Device facts for the client's default headers.
class FactsDevice : public Device {
public:
    std::string systemName() const override { return "iOS"; }
    std::string systemVersion() const override { return "8.1"; }
    std::string machineIdentifier() const override { return "x86_64"; }
    std::string name() const override { return "test device"; }
    std::string model() const override { return "iPhone"; }
    int userInterfaceIdiom() const override { return UserInterfaceIdiom::Phone; }
    std::string identifierForVendor() const override {
        return "00000000-0000-0000-0000-000000000001";
    }
    int orientation() const override { return 1; }
    void beginGeneratingDeviceOrientationNotifications() override {}
    void endGeneratingDeviceOrientationNotifications() override {}
    bool isGeneratingDeviceOrientationNotifications() const override { return false; }
    Rect screenBounds() const override { return Rect(0, 0, 320, 568); }
    double screenScale() const override { return 2.0; }
    std::vector<std::string> preferredLanguages() const override { return {"fr", "de"}; }
    BundleInfo mainBundle() const override {
        BundleInfo info;
        info.executable = "DemoApp";
        info.identifier = "com.example.demo";
        info.version = "3.1";
        return info;
    }
    bool hasVideoCaptureDevice() const override { return false; }
    bool isFrontCameraAvailable() const override { return false; }
    std::string cachesDirectory() const override { return "/tmp"; }
    std::string defaultsDirectory() const override { return "/tmp"; }
};

// A loopback server, the device facts installed, and the test thread as the main thread.
class HTTPTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunLoop::main().setMainThread();
        PlatformServices services;
        services.device = std::make_shared<FactsDevice>();
        Platform::current().install(services);
    }
    void TearDown() override {
        // Let callbacks already queued run before the next test.
        RunLoop::main().runPending();
        Platform::current().reset();
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
};

}  // namespace rivlo::test
