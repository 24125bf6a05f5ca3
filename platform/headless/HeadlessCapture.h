#pragma once

#include "platform/CaptureSession.h"
#include "platform/headless/HeadlessDevice.h"
#include "platform/headless/HeadlessProfile.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <vector>

namespace rivlo {

// The headless device's cameras and microphone. The cameras deliver moving synthetic pictures
// (a colour wash with a white square that crosses the frame once a second) at the requested
// size and frame rate; the microphone delivers a 440 Hz tone as 16-bit samples. Each runs a
// thread of its own while its session runs, paced by the monotonic clock.
//
// Which devices exist follows the device's camera facts (a back camera when the device has a
// camera, a front camera when it has a front one) and the microphone setting; opening a camera
// fails while camera access is denied. Any thread.
class HeadlessCapture : public CaptureDeviceDiscovery {
  public:
    HeadlessCapture(std::shared_ptr<HeadlessDevice> device, const HeadlessProfile& profile);

    std::vector<std::shared_ptr<CaptureDevice>> devices() const override;

    ~HeadlessCapture() override;

    void setCameraAccessDenied(bool denied) { state_->accessDenied = denied; }
    // A slow camera: while held, opening a camera waits (on the opener's thread) until
    // released. Released when this object goes.
    void holdCameraOpening(bool hold);
    // Cameras being opened right now (waiting while held).
    int camerasOpening() const;
    bool cameraAccessDenied() const { return state_->accessDenied.load(); }
    void setMicrophoneAvailable(bool available) { state_->microphone = available; }
    bool microphoneAvailable() const { return state_->microphone.load(); }

    // Pictures the cameras and sample blocks the microphone have delivered so far.
    uint64_t framesDelivered() const { return state_->frames.load(); }
    uint64_t audioBlocksDelivered() const { return state_->audioBlocks.load(); }

    // Shared with the devices, which may outlive this object inside a capture session.
    struct State {
        std::atomic<bool> accessDenied{false};
        std::atomic<bool> microphone{true};
        std::atomic<uint64_t> frames{0};
        std::atomic<uint64_t> audioBlocks{0};
        std::mutex openMutex;
        std::condition_variable openReleased;
        bool holdOpening = false;  // guarded by openMutex
        int opening = 0;           // guarded by openMutex
    };

  private:
    std::shared_ptr<HeadlessDevice> device_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::shared_ptr<CaptureDevice> back_, front_, microphone_;
};

}  // namespace rivlo
