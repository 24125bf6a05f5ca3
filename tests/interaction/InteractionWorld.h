#pragma once

// A headless device with a key window, a store in a temporary sandbox, a verified session's
// flags and a clean timeline, for the interaction suite and its benchmark. Main thread.

#include "support/LogCapture.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "interaction/RVGestureHandler.h"
#include "interaction/RVTouchHooks.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "screen/RVViewVideoHandler.h"
#include "timeline/RVHeatTimeHandler.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo::test {

class InteractionWorld {
  public:
    InteractionWorld() {
        RunLoop::main().setMainThread();
        char pattern[] = "/tmp/rivlo-interaction-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        HeadlessProfile profile;
        profile.screenBounds = Rect(0, 0, 320, 480);
        profile.screenScale = 1.0;
        profile.sandboxDirectory = dir_ + "/sandbox";
        platform_ = HeadlessPlatform::install(profile);
        RVUtil::setApplicationCachesDirectory(platform_->device().cachesDirectory());
        UserDefaults::setStandardDirectory(platform_->device().defaultsDirectory());
        window_ = platform_->makeKeyWindow();

        RVUtil::resetSetting();
        RVUtil::setting()->setIsScreenVideoOn(false);
        RVViewVideoHandler::resetSensitiveViews();
        RVUtil::isInfoPostSuccess(true);  // a verified session
        RVHeatTimeHandler::resetTimer();
        RVHeatTimeHandler::reset();
        auto* heat = RVHeatTimeHandler::sharedHandler();
        heat->setVcDetail(std::make_shared<RVVCDetail>());
        heat->setHeatMapPoint({0, 0});
        heat->setWebViewHeatMapPoint({0, 0});
        RVTouchHooks::forgetPreviousTouch();
    }

    ~InteractionWorld() {
        RVGestureHandler::sharedHandler()->unregisterGestures();
        RVUtil::isInfoPostSuccess(false);
        RVViewVideoHandler::resetSensitiveViews();
        RunLoop::main().runPending();
        window_.reset();
        platform_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    HeadlessPlatform& platform() { return *platform_; }
    HeadlessApplication& app() { return platform_->application(); }
    const std::shared_ptr<Window>& window() const { return window_; }
    const std::string& directory() const { return dir_; }

    // The timeline as the session document gets it.
    static Value ut() { return RVHeatTimeHandler::sharedHandler()->timeLineList(); }

  private:
    std::string dir_;
    std::shared_ptr<HeadlessPlatform> platform_;
    std::shared_ptr<Window> window_;
};

using LogLines = LogCapture;  // the suite's name for it

}  // namespace rivlo::test
