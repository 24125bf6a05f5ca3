#pragma once

// A headless device with a key window of a chosen size, the FFmpeg movie services, a store in a
// temporary sandbox and the screen recorder's settings, for the recorder's tests and benchmarks.

#include "support/DeviceSandbox.h"
#include "support/LogCapture.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/TextField.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "screen/RVViewVideoHandler.h"
#include "store/RVPlistHandler.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo::test {

class ScreenRecorderWorld {
  public:
    // A device whose screen (and key window) is width x height points.
    ScreenRecorderWorld(double width, double height)
        : device_("screen", DeviceSandbox::screen(width, height, 1.0)) {
        FfmpegMovieWriterFactory::installDefaults();
    }

    ~ScreenRecorderWorld() {
        // Emptied while the sandbox still exists, so that no later write of the defaults
        // brings the removed directory back.
        for (const auto& entry : RVPlistHandler::sharedHandler()->screenVideoEntries()) {
            RVPlistHandler::sharedHandler()->removeScreenVideo(
                PropertyList::text(entry, "videoName"));
        }
        RVViewVideoHandler::resetSensitiveViews();
    }

    // Screen video on or off in the current settings record.
    static void setScreenVideoOn(bool on) {
        auto setting = RVUtil::setting();
        if (setting) setting->setIsScreenVideoOn(on);
    }

    std::shared_ptr<View> addView(const Rect& frame, Color color) {
        auto view = std::make_shared<View>(frame);
        view->setBackgroundColor(color);
        window()->addSubview(view);
        return view;
    }

    std::shared_ptr<TextField> addSecureField(const Rect& frame) {
        auto field = std::make_shared<TextField>(frame);
        field->setSecureTextEntry(true);
        field->setBackgroundColor(Color::white());
        window()->addSubview(field);
        return field;
    }

    std::string screenVideoFolder() const { return RVUtil::folderPath("/RVScreenVideos"); }
    const std::string& directory() const { return device_.directory(); }
    HeadlessPlatform& platform() { return device_.platform(); }
    const std::shared_ptr<Window>& window() const { return device_.window(); }

  private:
    DeviceSandbox device_;
};

}  // namespace rivlo::test
