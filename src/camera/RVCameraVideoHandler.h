#pragma once

#include "camera/RVCameraVideo.h"
#include "foundation/NotificationCenter.h"
#include "foundation/URL.h"
#include "foundation/Value.h"
#include "platform/AlertView.h"
#include "platform/CaptureSession.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// The front camera recorder. At the start of every verified session it asks the user, in an
// alert, whether the front camera may record (when the device has a front camera and the
// settings want it); once the question is settled, or at once when there is none, it starts the
// timeline clock and the screen recorder. On "YES" it records the user's face and voice into
// "FrontCamera.mov" in the camera video folder, with the status overlay's red dot showing; at
// the stop it waits for the movie to be complete and hands it to the pending-upload store.
// postCameraVideo uploads the stored camera movies.
//
// States: Idle → Asking (alert open) → Starting (set-up thread) → Recording → Idle (stop).
//
// Threads: startCameraRecording, the alert answer and applicationDidEnterBackground on the main
// thread; the set-up on a thread of its own; stopCameraRecording on any thread but the main one
// (it cancels a set-up still opening the devices, waits for one that is starting the
// recording and for the movie to be finished, each for a bounded time);
// waitUntilRecordingIsFinished and postCameraVideo block their caller (not the main thread).
class RVCameraVideoHandler : public AlertViewDelegate,
                             public CaptureFileOutputRecordingDelegate,
                             public std::enable_shared_from_this<RVCameraVideoHandler> {
  public:
    // The shared recorder, created on first use and freed when the library closes. Any thread.
    static RVCameraVideoHandler* sharedHandler();

    // Registers the recorder's steps with the session controller (once, at start-up).
    static void registerSessionSteps();

    // Uploads every stored camera movie (POST "/webservices/v2/uploadvideo", "video_type"
    // "camera"): waits for the recording in progress to reach the store, then sends each entry
    // the allowance permits and removes each one the service accepts. Returns without waiting
    // for the uploads. A background thread (the stop-and-post run).
    static void postCameraVideo();

    // Main thread. Asks for consent, or starts the timeline clock and the screen recorder.
    void startCameraRecording();
    // Main thread: the consent alert's answer.
    void alertViewClickedButtonAtIndex(AlertView& alert, int buttonIndex) override;
    // Sets up the capture session and starts recording. Runs on a thread of its own.
    void startRecordingInBackground();
    // Any thread but the main one. Stops the recording and hands the finished movie to the
    // store.
    void stopCameraRecording();
    // Blocks until no recording is being set up (cancelled set-ups aside), recorded or stopped,
    // for kBusyTimeoutSeconds at most.
    void waitUntilRecordingIsFinished();
    // Main thread: closes an open consent alert without an answer.
    void applicationDidEnterBackground();

    // The front camera, else the default camera; nullptr when there is none.
    static std::shared_ptr<CaptureDevice> frontFacingCameraIfAvailable();

    // CaptureFileOutputRecordingDelegate (the output's thread).
    void captureOutputDidStartRecording(CaptureMovieFileOutput& output,
                                        const URL& fileURL) override;
    void captureOutputDidFinishRecording(CaptureMovieFileOutput& output, const URL& fileURL,
                                         const std::optional<Error>& error) override;

    // The session preset for the settings' camera quality: exactly "low", "medium" or "high";
    // anything else the low preset.
    static std::string presetForQuality(const Value& quality);
    // The capture orientation for a status bar orientation (1...4 as they are, else portrait).
    static int captureOrientationForStatusBar(int statusBarOrientation);

    // Longest wait for the movie output's finish report at the stop.
    static constexpr double kFinishTimeoutSeconds = 5.0;
    // Longest wait of a stop for a set-up that is starting the recording.
    static constexpr double kSetupTimeoutSeconds = 10.0;
    // Longest wait of waitUntilRecordingIsFinished (beyond both waits of a stop).
    static constexpr double kBusyTimeoutSeconds = kSetupTimeoutSeconds + kFinishTimeoutSeconds + 15;
    static constexpr const char* kMovieFileName = "FrontCamera.mov";

    // ---- State, any thread -----------------------------------------------------------------

    bool isRecording() const { return isRecording_.load(); }
    // A set-up thread has been asked for and has not ended (also one a stop cancelled).
    bool isSettingUp() const;
    std::shared_ptr<AlertView> startCameraAlert() const;
    std::shared_ptr<CaptureSession> session() const;
    std::shared_ptr<CaptureMovieFileOutput> movieFileOutput() const;
    std::optional<URL> cameraVideoURL() const;
    std::shared_ptr<RVCameraVideo> cameraVideoData() const;

    RVCameraVideoHandler();

  private:
    // Runs one set-up (the consent answer's thread, or a direct call). A set-up that a stop
    // cancelled may still be opening the devices when the next one is asked for: each set-up
    // has its own number, and one that is no longer the newest starts nothing and leaves the
    // newest one's state alone.
    void setUp(uint64_t generation);
    void setupFinished(uint64_t generation);
    // Under mutex_: this set-up must start nothing (a stop came, or a newer set-up was asked for).
    bool setupCancelledLocked(uint64_t generation) const {
        return setupCancelled_ || generation != setupGeneration_;
    }

    std::atomic<bool> isRecording_{false};

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::shared_ptr<CaptureSession> session_;
    std::shared_ptr<CaptureMovieFileOutput> movieFileOutput_;
    std::optional<URL> cameraVideoURL_;
    std::shared_ptr<RVCameraVideo> cameraVideoData_;
    std::shared_ptr<AlertView> startCameraAlert_;
    bool setupRunning_ = false;     // a set-up thread has been asked for and has not ended
    bool setupStarting_ = false;    // ... and has got past opening the devices
    bool setupCancelled_ = false;   // ... and a stop came first: it must start nothing
    uint64_t setupGeneration_ = 0;  // the number of the newest set-up asked for
    bool stopping_ = false;         // a stop is handing the movie over
    // The finish report of the output now recording.
    bool finishReported_ = false;
    bool finishFailed_ = false;
    std::optional<NotificationCenter::Token> backgroundObserver_;
};

}  // namespace rivlo
