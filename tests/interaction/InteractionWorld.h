#pragma once

// A headless device with a key window, a store in a temporary sandbox, a verified session's
// flags and a clean timeline, for the interaction suite and its benchmark. Main thread.

#include "support/DeviceSandbox.h"
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
    InteractionWorld() : device_("interaction", DeviceSandbox::screen(320, 480, 1.0)) {
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
    }

    HeadlessPlatform& platform() { return device_.platform(); }
    HeadlessApplication& app() { return device_.app(); }
    const std::shared_ptr<Window>& window() const { return device_.window(); }
    const std::string& directory() const { return device_.directory(); }

    // The timeline as the session document gets it.
    static Value ut() { return RVHeatTimeHandler::sharedHandler()->timeLineList(); }

  private:
    DeviceSandbox device_;
};

using LogLines = LogCapture;  // the suite's name for it

}  // namespace rivlo::test
