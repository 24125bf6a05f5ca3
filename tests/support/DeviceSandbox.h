#pragma once

// The headless device the suites run on: installed into the platform registry with its sandbox
// (caches, defaults file) in a fresh temporary folder that the store and the standard defaults
// use, and a key window. Everything goes again at the end. Main thread: the constructor makes
// the calling thread the main one.

#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/Geometry.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "store/RVStorePaths.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace rivlo::test {

class DeviceSandbox {
  public:
    // A device as profile says (its sandbox directory is chosen here) under a temporary folder
    // named "/tmp/rivlo-<name>-XXXXXX".
    explicit DeviceSandbox(const std::string& name, HeadlessProfile profile = {}) {
        RunLoop::main().setMainThread();
        std::string pattern = "/tmp/rivlo-" + name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        dir_ = pattern;
        profile.sandboxDirectory = dir_ + "/sandbox";
        platform_ = HeadlessPlatform::install(profile);
        RVStorePaths::setApplicationCachesDirectory(platform_->device().cachesDirectory());
        UserDefaults::setStandardDirectory(platform_->device().defaultsDirectory());
        window_ = platform_->makeKeyWindow();
    }

    // The profile of a screen of width x height points at the given scale.
    static HeadlessProfile screen(double width, double height, double scale) {
        HeadlessProfile profile;
        profile.screenBounds = Rect(0, 0, width, height);
        profile.screenScale = scale;
        return profile;
    }

    ~DeviceSandbox() {
        RunLoop::main().runPending();
        window_.reset();
        platform_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    DeviceSandbox(const DeviceSandbox&) = delete;
    DeviceSandbox& operator=(const DeviceSandbox&) = delete;

    HeadlessPlatform& platform() { return *platform_; }
    HeadlessApplication& app() { return platform_->application(); }
    const std::shared_ptr<Window>& window() const { return window_; }
    // The temporary folder (the sandbox is its "sandbox" subfolder).
    const std::string& directory() const { return dir_; }

  private:
    std::string dir_;
    std::shared_ptr<HeadlessPlatform> platform_;
    std::shared_ptr<Window> window_;
};

}  // namespace rivlo::test
