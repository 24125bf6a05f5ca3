#pragma once

// A headless device (cameras and microphone as its profile says), the FFmpeg movie services,
// a store in a temporary sandbox, log capture, and a probe that decodes a movie's picture and
// sound with libavformat, for the camera recorder's suites. Main thread.

#include "support/DeviceSandbox.h"
#include "support/LogCapture.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "store/RVPlistHandler.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivlo::test {

class CameraWorld {
  public:
    explicit CameraWorld(HeadlessProfile profile = {}) : device_("camera", onScreen(profile)) {
        FfmpegMovieWriterFactory::installDefaults();
    }

    ~CameraWorld() {
        // Emptied while the sandbox still exists, so no later write of the defaults brings the
        // removed directory back.
        auto* store = RVPlistHandler::sharedHandler();
        for (const auto& entry : store->cameraVideoEntries())
            store->removeCameraVideo(PropertyList::text(entry, "videoName"));
        for (const auto& entry : store->screenVideoEntries())
            store->removeScreenVideo(PropertyList::text(entry, "videoName"));
        RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(500));
    }

    HeadlessPlatform& platform() { return device_.platform(); }
    HeadlessApplication& app() { return device_.app(); }
    const std::string& directory() const { return device_.directory(); }
    std::string cameraVideoFolder() const { return RVUtil::folderPath("/RVCameraVideos"); }

  private:
    // The camera suites' screen: 320 x 480 points at scale 1, cameras as the profile says.
    static HeadlessProfile onScreen(HeadlessProfile profile) {
        profile.screenBounds = Rect(0, 0, 320, 480);
        profile.screenScale = 1.0;
        return profile;
    }

    DeviceSandbox device_;
};

using LogLines = LogCapture;  // the suite's name for it

// What libavformat and libavcodec make of a movie with picture and sound.
struct AVMovieProbe {
    bool opened = false;
    double duration = 0;  // seconds
    bool hasVideo = false;
    std::string videoCodec;
    int width = 0;
    int height = 0;
    double rotation = 0;  // display matrix, degrees counter-clockwise (0 when none)
    int videoFramesDecoded = 0;
    bool hasAudio = false;
    std::string audioCodec;
    int sampleRate = 0;
    int64_t audioSamplesDecoded = 0;
    double audioRms = 0;  // root mean square of the first channel, 0...1
    // Mean absolute difference of the luma of the first and the last decoded picture.
    double pictureChange = 0;

    static AVMovieProbe open(const std::string& path);
};

}  // namespace rivlo::test
