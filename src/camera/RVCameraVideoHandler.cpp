#include "camera/RVCameraVideoHandler.h"

#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "core/RivloHandler.h"
#include "foundation/BackgroundThreads.h"
#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "overlay/RVStatusBar.h"
#include "platform/Application.h"
#include "platform/Platform.h"
#include "store/RVPlistHandler.h"
#include "store/RVStoreFiles.h"

#include <chrono>
#include <thread>

namespace rivlo {
namespace {

constexpr const char* kCameraVideoFolder = "/RVCameraVideos";
constexpr int kAlertTag = 1;

bool cameraWanted() {
    auto setting = RVUtil::setting();
    return RVUtil::sharedHandler()->isCameraAvailable() && setting && setting->isCameraVideoOn();
}

}  // namespace

RVCameraVideoHandler::RVCameraVideoHandler() = default;

RVCameraVideoHandler* RVCameraVideoHandler::sharedHandler() {
    // Held until the library closes; delegates refer to it weakly.
    static SharedInstance<std::shared_ptr<RVCameraVideoHandler>> holder;
    auto& held = holder.get(
        [] {
            auto handler = std::make_shared<RVCameraVideoHandler>();
            RVCameraVideoHandler* raw = handler.get();
            handler->backgroundObserver_ = NotificationCenter::defaultCenter().addObserver(
                ApplicationNotification::DidEnterBackground, nullptr,
                [raw](const Notification&) { raw->applicationDidEnterBackground(); });
            return new std::shared_ptr<RVCameraVideoHandler>(std::move(handler));
        },
        [](std::shared_ptr<RVCameraVideoHandler>& handler) {
            if (handler->backgroundObserver_)
                NotificationCenter::defaultCenter().removeObserver(*handler->backgroundObserver_);
        });
    return held.get();
}

void RVCameraVideoHandler::registerSessionSteps() {
    RVCameraRecorderSteps steps;
    steps.startCameraRecording = [] { sharedHandler()->startCameraRecording(); };
    steps.stopCameraRecording = [] { sharedHandler()->stopCameraRecording(); };
    steps.postCameraVideo = [] { postCameraVideo(); };
    RVSessionSteps::registerCameraRecorder(std::move(steps));
}

std::string RVCameraVideoHandler::presetForQuality(const Value& quality) {
    if (quality.is_string()) {
        const auto& text = quality.get_ref<const std::string&>();
        if (text == "low") return CaptureSessionPreset::Low;
        if (text == "medium") return CaptureSessionPreset::Medium;
        if (text == "high") return CaptureSessionPreset::High;
    }
    return CaptureSessionPreset::Low;
}

int RVCameraVideoHandler::captureOrientationForStatusBar(int orientation) {
    switch (orientation) {
        case InterfaceOrientation::Portrait:
        case InterfaceOrientation::PortraitUpsideDown:
        case InterfaceOrientation::LandscapeRight:
        case InterfaceOrientation::LandscapeLeft:
            return orientation;
        default:
            return CaptureVideoOrientation::Portrait;
    }
}

std::shared_ptr<CaptureDevice> RVCameraVideoHandler::frontFacingCameraIfAvailable() {
    for (const auto& device : CaptureDevice::devicesWithMediaType(CaptureMediaType::Video)) {
        if (device->position() == CaptureDevicePosition::Front) return device;
    }
    return CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType::Video);
}

// ---- Start ------------------------------------------------------------------------------------

void RVCameraVideoHandler::startCameraRecording() {
    if (auto previous = session()) previous->stopRunning();

    if (cameraWanted()) {
        auto alert = std::make_shared<AlertView>(
            format("%s would like to record your Camera Video.", RVUtil::appName().c_str()),
            "Would you like to give access?", weak_from_this(), "NO",
            std::vector<std::string>{"YES"});
        alert->setTag(kAlertTag);
        {
            std::lock_guard lock(mutex_);
            startCameraAlert_ = alert;
        }
        alert->show();
        return;  // the rest waits for the answer
    }
    RivloHandler::startTimelineAndScreen();
}

void RVCameraVideoHandler::alertViewClickedButtonAtIndex(AlertView& alert, int buttonIndex) {
    if (alert.tag() != kAlertTag) return;
    if (buttonIndex != alert.cancelButtonIndex()) {
        uint64_t generation = 0;
        {
            // Marked before the thread exists, so a stop that comes first still finds it.
            std::lock_guard lock(mutex_);
            setupRunning_ = true;
            setupStarting_ = false;
            setupCancelled_ = false;
            generation = ++setupGeneration_;
        }
        BackgroundThreads::start("rivlo.camera",
                                 [generation] { sharedHandler()->setUp(generation); });
    } else {
        alert.dismissWithClickedButtonIndex(buttonIndex, true);
    }
    RivloHandler::startTimelineAndScreen();
}

void RVCameraVideoHandler::setupFinished(uint64_t generation) {
    {
        std::lock_guard lock(mutex_);
        if (generation != setupGeneration_) return;  // a newer set-up runs: its state stays
        setupRunning_ = false;
        setupStarting_ = false;
    }
    cv_.notify_all();
}

bool RVCameraVideoHandler::isSettingUp() const {
    std::lock_guard lock(mutex_);
    return setupRunning_;
}

void RVCameraVideoHandler::startRecordingInBackground() {
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (!setupRunning_) {  // called directly, not through the alert
            setupRunning_ = true;
            setupStarting_ = false;
            setupCancelled_ = false;
            ++setupGeneration_;
        }
        generation = setupGeneration_;
    }
    setUp(generation);
}

void RVCameraVideoHandler::setUp(uint64_t generation) {
    struct Done {
        RVCameraVideoHandler* self;
        uint64_t generation;
        ~Done() { self->setupFinished(generation); }
    } done{this, generation};

    Error error;
    auto camera = frontFacingCameraIfAvailable();
    auto cameraInput = CaptureDeviceInput::deviceInputWithDevice(camera, &error);
    if (!cameraInput) {
        RVLog("Rivlo: ERROR: trying to open camera: %s", error.description().c_str());
        return;
    }
    Error audioError;
    auto microphone = CaptureDevice::defaultDeviceWithMediaType(CaptureMediaType::Audio);
    auto audioInput = CaptureDeviceInput::deviceInputWithDevice(microphone, &audioError);
    if (!audioInput) {
        RVLog("Rivlo: ERROR trying to open the microphone: %s", audioError.description().c_str());
    }

    auto session = std::make_shared<CaptureSession>();
    auto setting = RVUtil::setting();
    session->beginConfiguration();
    session->setSessionPreset(presetForQuality(setting ? setting->cameraVideoQuality() : Value()));
    auto output = std::make_shared<CaptureMovieFileOutput>();
    {
        // Opening the devices can take long (a busy camera); a stop that came meanwhile has
        // cancelled this set-up, and nothing may start after it.
        std::lock_guard lock(mutex_);
        if (setupCancelledLocked(generation)) {
            RVLog("Rivlo: Camera set-up ended after the recording was stopped; nothing recorded");
            return;
        }
        session_ = session;
        movieFileOutput_ = output;
        setupStarting_ = true;  // from here on a stop waits for the set-up to end
    }
    session->addInput(cameraInput);
    if (audioInput) session->addInput(audioInput);
    session->addOutput(output);
    session->commitConfiguration();

    auto application = Platform::current().application();
    const int statusBar = application ? application->statusBarOrientation() : 0;
    if (auto connection = output->connectionWithMediaType(CaptureMediaType::Video)) {
        connection->setVideoOrientation(captureOrientationForStatusBar(statusBar));
    }

    RVStatusBar::showWithStatus("");
    session->startRunning();

    const std::string folder = RVUtil::folderPath(kCameraVideoFolder);
    RVStoreFiles::createDirectory(folder);
    const std::string path = folder + "/" + kMovieFileName;
    RVStoreFiles::removeItem(path);
    const URL url = URL::fileURL(path);
    {
        std::lock_guard lock(mutex_);
        cameraVideoURL_ = url;
        finishReported_ = false;
        finishFailed_ = false;
    }
    output->startRecordingToOutputFileURL(url, weak_from_this());

    auto record = RVCameraVideo::init();
    bool cancelled = false;
    {
        std::lock_guard lock(mutex_);
        // A stop that gave up waiting for this set-up has gone: undo what was started.
        cancelled = setupCancelledLocked(generation);
        if (!cancelled) {
            cameraVideoData_ = record;
            isRecording_ = true;
        }
    }
    if (cancelled) {
        RVLog("Rivlo: Camera set-up ended after the recording was stopped; nothing recorded");
        output->stopRecording();
        session->stopRunning();
        RVStatusBar::dismiss();
    }
}

// ---- Stop -------------------------------------------------------------------------------------

void RVCameraVideoHandler::stopCameraRecording() {
    std::shared_ptr<CaptureSession> session;
    std::shared_ptr<CaptureMovieFileOutput> output;
    std::optional<URL> url;
    std::shared_ptr<RVCameraVideo> record;
    bool gaveUp = false;
    {
        // A set-up still opening the devices is cancelled: it starts nothing afterwards. One
        // that is already starting the recording is let finish (briefly), so that what it
        // started is stopped here; if it does not, it is cancelled too.
        std::unique_lock lock(mutex_);
        if (setupRunning_ && !setupStarting_) {
            setupCancelled_ = true;
        } else if (!cv_.wait_for(lock, std::chrono::duration<double>(kSetupTimeoutSeconds),
                                 [this] { return !setupRunning_; })) {
            setupCancelled_ = true;
            gaveUp = true;
        }
        stopping_ = true;
    }
    if (gaveUp) RVLog("Rivlo: Camera set-up is still running; stopping without it");
    struct Done {
        RVCameraVideoHandler* self;
        ~Done() {
            {
                std::lock_guard lock(self->mutex_);
                self->stopping_ = false;
            }
            self->cv_.notify_all();
        }
    } done{this};

    // A recording in progress is always ended, even if the camera or the setting went away
    // meanwhile (an open recording would hold up the camera upload pass for good).
    if (!cameraWanted() && !isRecording_) return;

    RVStatusBar::dismiss();
    {
        std::lock_guard lock(mutex_);
        session = session_;
        output = movieFileOutput_;
        url = cameraVideoURL_;
        record = cameraVideoData_;
    }

    bool complete = false;
    if (output) {
        const bool wasRecording = output->isRecording();
        output->stopRecording();
        // The file is complete only once the output says so: the duration is read, and the
        // file copied, after that. A movie that ended on its own (an interruption) may still
        // be finishing: its report is waited for too.
        std::unique_lock lock(mutex_);
        if ((wasRecording || isRecording_.load()) &&
            !cv_.wait_for(lock, std::chrono::duration<double>(kFinishTimeoutSeconds),
                          [this] { return finishReported_; })) {
            lock.unlock();
            RVLog("Rivlo: Camera video was not finished within %.0f seconds; not kept",
                  kFinishTimeoutSeconds);
            lock.lock();
        }
        complete = finishReported_ && !finishFailed_;
    }

    if (url && record) {
        if (complete) {
            record->updateWithVideoURL(*url);
            record->videoName =
                RVPlistHandler::sharedHandler()->addCameraVideo(*record, url->decodedPath());
        } else {
            RVLog("Rivlo: Camera video %s was not recorded completely; not kept",
                  record->videoName.c_str());
        }
    }

    if (session) session->stopRunning();
    {
        std::lock_guard lock(mutex_);
        cameraVideoData_.reset();
        cameraVideoURL_.reset();
    }
    isRecording_ = false;
}

void RVCameraVideoHandler::waitUntilRecordingIsFinished() {
    // A cancelled set-up records nothing and is not waited for; a stop waits a bounded time
    // for the set-up and the movie, so this wait ends. The bound guards the upload pass (and
    // the post semaphore its caller holds) against a capture that never reports back.
    std::unique_lock lock(mutex_);
    const bool done =
        cv_.wait_for(lock, std::chrono::duration<double>(kBusyTimeoutSeconds), [this] {
            return !isRecording_.load() && !(setupRunning_ && !setupCancelled_) && !stopping_;
        });
    lock.unlock();
    if (!done) {
        RVLog("Rivlo: Camera recording still busy after %.0f seconds; uploading without it",
              kBusyTimeoutSeconds);
    }
}

void RVCameraVideoHandler::captureOutputDidStartRecording(CaptureMovieFileOutput&, const URL&) {}

void RVCameraVideoHandler::captureOutputDidFinishRecording(CaptureMovieFileOutput& output,
                                                           const URL&,
                                                           const std::optional<Error>& error) {
    if (error && !(error->domain == CaptureErrorDomain &&
                   error->code == CaptureErrorCode::SessionWasInterrupted)) {
        RVLog("Rivlo: Error finishing camera video: Error: %s", error->description().c_str());
    }
    {
        std::lock_guard lock(mutex_);
        if (movieFileOutput_.get() != &output) return;  // an earlier recording's output
        finishReported_ = true;
        // An interruption (a call) ends the movie early but completely: it is kept.
        finishFailed_ =
            error.has_value() && !(error->domain == CaptureErrorDomain &&
                                   error->code == CaptureErrorCode::SessionWasInterrupted);
    }
    cv_.notify_all();
}

// ---- Background -------------------------------------------------------------------------------

void RVCameraVideoHandler::applicationDidEnterBackground() {
    auto alert = startCameraAlert();
    if (alert) alert->dismissWithClickedButtonIndex(0, false);
}

// ---- State ------------------------------------------------------------------------------------

std::shared_ptr<AlertView> RVCameraVideoHandler::startCameraAlert() const {
    std::lock_guard lock(mutex_);
    return startCameraAlert_;
}
std::shared_ptr<CaptureSession> RVCameraVideoHandler::session() const {
    std::lock_guard lock(mutex_);
    return session_;
}
std::shared_ptr<CaptureMovieFileOutput> RVCameraVideoHandler::movieFileOutput() const {
    std::lock_guard lock(mutex_);
    return movieFileOutput_;
}
std::optional<URL> RVCameraVideoHandler::cameraVideoURL() const {
    std::lock_guard lock(mutex_);
    return cameraVideoURL_;
}
std::shared_ptr<RVCameraVideo> RVCameraVideoHandler::cameraVideoData() const {
    std::lock_guard lock(mutex_);
    return cameraVideoData_;
}

}  // namespace rivlo
