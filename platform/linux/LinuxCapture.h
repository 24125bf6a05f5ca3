#pragma once

#include "platform/CaptureSession.h"

#include <memory>
#include <string>
#include <vector>

namespace rivlo {

// Cameras on Linux through V4L2: every /dev/video* node that opens and reports video capture
// with streaming is a camera. A camera is opened for YUYV pictures at the preset's size (the
// driver may pick the nearest size it has; pictures are scaled to the preset's) and read through
// memory-mapped buffers on a thread of its own while its session runs. There is no microphone:
// camera movies on Linux have no sound track.
//
// Which position the cameras report: front when the device configuration offers a video
// device as the front camera, else unspecified. Any thread.
class LinuxCapture : public CaptureDeviceDiscovery {
  public:
    explicit LinuxCapture(bool offerAsFrontCamera, std::string deviceDirectory = "/dev");

    std::vector<std::shared_ptr<CaptureDevice>> devices() const override;

    // The paths of the usable video capture nodes in the directory (sorted).
    static std::vector<std::string> usableCameraPaths(const std::string& deviceDirectory = "/dev");
    static bool hasUsableCamera() { return !usableCameraPaths().empty(); }

    // Installs a LinuxCapture as the platform's capture devices.
    static void install(bool offerAsFrontCamera);

  private:
    bool front_;
    std::string directory_;
};

}  // namespace rivlo
