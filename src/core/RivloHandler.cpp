#include "core/RivloHandler.h"

#include "core/RVServiceConfig.h"
#include "core/RVSessionSteps.h"
#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/BackgroundThreads.h"
#include "foundation/DispatchQueue.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "foundation/URL.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFJSONRequestOperation.h"
#include "platform/Device.h"
#include "platform/Platform.h"
#include "store/RVJSONDataHandler.h"
#include "store/RVPlistHandler.h"

#include <thread>

namespace rivlo {

namespace {

// Process-wide controller state. The flags are atomics: they are written by the serialised
// paths of the controller (first start, stop-and-post, restart, activation) and read anywhere.
std::atomic<RivloHandler*> gInstance{nullptr};
std::atomic<bool> gSessionStarted{false};
std::atomic<bool> gRecording{false};
// Bumped whenever a session is begun or stopped: a verification answer that arrives for a
// session that has meanwhile ended is recognised by it and does not start recorders.
std::atomic<uint64_t> gSessionGeneration{0};

std::mutex gSemaphoreMutex;
std::shared_ptr<Semaphore> gPostSemaphore;  // guarded by gSemaphoreMutex

// The lock tied to the controller's class: serialises the first start.
std::recursive_mutex& classLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::shared_ptr<Semaphore> postSemaphore() {
    std::lock_guard lock(gSemaphoreMutex);
    return gPostSemaphore;
}

void renewPostSemaphore() {
    auto fresh = std::make_shared<Semaphore>(1);
    std::lock_guard lock(gSemaphoreMutex);
    gPostSemaphore = std::move(fresh);
}

// Runs fn on a short-lived thread of its own (the recorders' stop steps).
void runOnNewThread(const char* name, std::function<void()> fn) {
    if (!fn) return;
    BackgroundThreads::start(name, std::move(fn));
}

// Orders the application's moves between background and foreground: the background
// stop-and-post, the foreground clean-up and the session an activation begins run one after
// the other, in the order the application moved. Drained and joined when the library closes.
SharedInstance<DispatchQueue> gLifecycleQueue;

DispatchQueue& lifecycleQueue() {
    return sharedQueue(gLifecycleQueue, "com.rivlo.RivloHandler.lifecycle");
}

// Signals the semaphore however the stop-and-post run ends.
struct SemaphoreSignal {
    std::shared_ptr<Semaphore> semaphore;
    ~SemaphoreSignal() { semaphore->signal(); }
};

}  // namespace

// ---- First start ----------------------------------------------------------------------------

void RivloHandler::start(const std::string& key) {
    start(key, "");
}

void RivloHandler::start(const std::string& key, const std::string& theme) {
    // The whole first start runs under the class lock, so that two threads starting at once
    // create one controller and begin one session. Nothing reached from here takes this lock
    // again on another thread, so calling out under it cannot deadlock.
    std::lock_guard lock(classLock());
    if (gInstance.load() != nullptr) return;

    auto* handler = new RivloHandler();
    gInstance.store(handler);

    RVServiceConfig::caFile();  // logs an unusable certificate bundle once, at start
    auto baseURL = URL::parse(RVServiceConfig::serviceBaseURL());
    if (!baseURL) baseURL = URL::parse(RVServiceConfig::kDefaultBaseURL);
    auto client = baseURL ? RVAFHTTPClient::clientWithBaseURL(*baseURL) : nullptr;
    {
        std::lock_guard stateLock(handler->mutex_);
        handler->httpClient_ = std::move(client);
    }

    RVUtil::applicationKey(RVUtil::trimWhitespace(key));
    RVUtil::theme(RVUtil::trimWhitespace(theme));
    // Views the host marked sensitive before this first start stay marked: dropping them
    // would record them in the clear.
    RVUtil::resetSettingKeepingSensitiveViews();
    handler->startSession();
}

RivloHandler::RivloHandler() {
    // Application notifications, in this order; the platform posts them on the main thread.
    auto& center = NotificationCenter::defaultCenter();
    applicationObservers_.push_back(
        center.addObserver(ApplicationNotification::DidEnterBackground, nullptr,
                           [this](const Notification&) { applicationDidEnterBackground(); }));
    applicationObservers_.push_back(
        center.addObserver(ApplicationNotification::DidBecomeActive, nullptr,
                           [this](const Notification&) { applicationDidBecomeActive(); }));
    applicationObservers_.push_back(
        center.addObserver(ApplicationNotification::DidReceiveMemoryWarning, nullptr,
                           [this](const Notification&) { applicationDidReceiveMemoryWarning(); }));
    applicationObservers_.push_back(
        center.addObserver(ApplicationNotification::WillResignActive, nullptr,
                           [this](const Notification&) { applicationWillResignActive(); }));
    applicationObservers_.push_back(
        center.addObserver(ApplicationNotification::WillEnterForeground, nullptr,
                           [this](const Notification&) { applicationWillEnterForeground(); }));

    runStep(RVSessionSteps::crashCapture().installHandlers);
}

RivloHandler* RivloHandler::rivlo() {
    return gInstance.load();
}

bool RivloHandler::isSessionRecording() {
    return gRecording.load();
}

bool RivloHandler::isSessionStarted() {
    return gSessionStarted.load();
}

std::shared_ptr<RVAFHTTPClient> RivloHandler::httpClient() const {
    std::lock_guard lock(mutex_);
    return httpClient_;
}

// ---- Sessions -------------------------------------------------------------------------------

void RivloHandler::startSession() {
    if (!gSessionStarted.load()) {
        renewPostSemaphore();
        beginSession();
        return;
    }
    // A session is still open: stop and post it first, off the caller's thread, then begin.
    DispatchQueue::global(DispatchQueue::Priority::High, [this] {
        stopAndPostData();
        beginSession();
    });
}

void RivloHandler::beginSession() {
    ++gSessionGeneration;
    RVUtil::sharedHandler()->startApplicationTimer();
    // Marked open (and recording, as the host is told) before the request goes out, so that
    // its answer always finds it so.
    gSessionStarted.store(true);
    gRecording.store(true);
    isRequestValid();
}

void RivloHandler::stopAndPostData() {
    auto semaphore = postSemaphore();
    if (!semaphore) return;  // no session was ever begun
    semaphore->wait();
    SemaphoreSignal signal{semaphore};
    if (!gSessionStarted.load()) return;

    // The session is closing from here on: a verification answer that arrives while the
    // recorders stop and the uploads start must not start them again.
    ++gSessionGeneration;
    runStep(RVSessionSteps::gestures().unregisterGestures);
    stop();
    runStep(RVSessionSteps::screenRecorder().postScreenVideo);
    runStep(RVSessionSteps::cameraRecorder().postCameraVideo);
    runStep(RVSessionSteps::timeline().postHeatTimeData);
    runStep(RVSessionSteps::webViews().postWebViewData);
    gSessionStarted.store(false);
}

void RivloHandler::stop() {
    RivloHandler* handler = rivlo();
    if (!handler) return;
    gRecording.store(false);

    // The recorders finish their movies on threads of their own; nobody waits for them here
    // (the uploaders wait for the movies they need).
    runOnNewThread("rivlo.stopscreen", RVSessionSteps::screenRecorder().stopScreenRecording);
    runOnNewThread("rivlo.stopcamera", RVSessionSteps::cameraRecorder().stopCameraRecording);

    runStep(RVSessionSteps::timeline().saveHeatMap);
    RVJSONDataHandler::saveDataToFile();
    runStep(RVSessionSteps::webViews().saveWebViewData);
    handler->stopOperation();
}

void RivloHandler::crash() {
    if (!rivlo()) return;
    runStep(RVSessionSteps::crashCapture().saveCrashData);
    stop();
}

void RivloHandler::restartSession() {
    if (gSessionStarted.load()) {
        RVLog(
            "Rivlo:restartSession: Session is not running. Call [Rivlo "
            "startApplicationWithKey:] to start a new session");
        return;
    }
    RivloHandler* handler = rivlo();
    runStep(RVSessionSteps::timeline().resetTimer);
    cleanupData();
    if (handler) handler->stopOperation();
    RVUtil::resetSetting();
    runStep(RVSessionSteps::timeline().reset);
    if (handler) handler->startSession();
}

void RivloHandler::cleanupData() {
    RVPlistHandler::sharedHandler()->cleanupData();
}

void RivloHandler::stopAndPostForClose() {
    if (!rivlo() || !gSessionStarted.load()) return;
    // In turn with the application's own moves, as entering the background would.
    lifecycleQueue().async([] { stopAndPostData(); });
}

void RivloHandler::shutdown() {
    std::lock_guard lock(classLock());
    RivloHandler* handler = gInstance.exchange(nullptr);
    ++gSessionGeneration;  // an answer still on its way starts nothing
    gSessionStarted.store(false);
    gRecording.store(false);
    {
        std::lock_guard semaphoreLock(gSemaphoreMutex);
        gPostSemaphore.reset();
    }
    if (!handler) return;
    handler->stopOperation();
    handler->finishBackgroundTask();
    for (auto token : handler->applicationObservers_)
        NotificationCenter::defaultCenter().removeObserver(token);
    delete handler;
}

void RivloHandler::cleanupDataAfterPosting() {
    // Never beside a stop-and-post: it may still be finishing movies and saving tiles that
    // are not listed yet.
    auto semaphore = postSemaphore();
    if (!semaphore) {
        cleanupData();
        return;
    }
    semaphore->wait();
    SemaphoreSignal signal{semaphore};
    cleanupData();
}

// ---- Recording steps ------------------------------------------------------------------------

void RivloHandler::startTimelineAndScreen() {
    runStep(RVSessionSteps::timeline().startTimer);
    runStep(RVSessionSteps::screenRecorder().startScreenRecording);
}

void RivloHandler::startOperation() {
    // The camera recorder asks for consent (when the settings want the camera) and then starts
    // the timeline clock and the screen recorder; without it they start at once.
    const auto camera = RVSessionSteps::cameraRecorder();
    if (camera.startCameraRecording) {
        camera.startCameraRecording();
    } else {
        startTimelineAndScreen();
    }

    auto token = NotificationCenter::defaultCenter().addObserver(
        DeviceOrientationDidChangeNotification, nullptr, [](const Notification& notification) {
            runStep(RVSessionSteps::gestures().deviceOrientationDidChange, notification);
        });
    std::optional<NotificationCenter::Token> previous;
    bool begin = false;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(orientationObserver_, token);
        begin = !generatingOrientation_;
        generatingOrientation_ = true;
    }
    if (previous) NotificationCenter::defaultCenter().removeObserver(*previous);
    if (begin) {
        if (auto device = Platform::current().device()) {
            device->beginGeneratingDeviceOrientationNotifications();
        }
    }
}

void RivloHandler::stopOperation() {
    std::optional<NotificationCenter::Token> observer;
    bool end = false;
    {
        std::lock_guard lock(mutex_);
        observer = std::exchange(orientationObserver_, std::nullopt);
        // Only a begin of ours is ended: the device counts begin and end calls, and an
        // unmatched end would switch off the host's own orientation events.
        end = std::exchange(generatingOrientation_, false);
    }
    if (end) {
        if (auto device = Platform::current().device()) {
            device->endGeneratingDeviceOrientationNotifications();
        }
    }
    if (observer) NotificationCenter::defaultCenter().removeObserver(*observer);
}

Value RivloHandler::infoDictionary() {
    RVDeviceInfo info;
    info.aliasName = RVUtil::aliasName();
    info.appDeviceId = RVUtil::appDeviceId();
    info.vendorIdentifier = RVUtil::vendorIdentifier();
    info.deviceRunNo = RVUtil::deviceRunNo();
    info.systemVersion = RVUtil::currentVersion();
    info.deviceType = RVUtil::deviceType();
    if (auto device = Platform::current().device()) {
        const Rect bounds = device->screenBounds();
        info.screenWidth = bounds.width();
        info.screenHeight = bounds.height();
    }
    info.resolution = RVUtil::resolution();
    info.devicePlatform = RVUtil::devicePlatform();
    info.appName = RVUtil::appName();
    return RVJSONDataHandler::infoDictionary(info);
}

void RivloHandler::saveInfo() {
    RVJSONDataHandler::sharedHandler()->setInfoDic(infoDictionary());
}

// ---- Application notifications --------------------------------------------------------------

void RivloHandler::applicationDidEnterBackground() {
    RVUtil::isAppLoadingFirstTime(false);
    if (auto application = Platform::current().application()) {
        backgroundTask_.store(application->beginBackgroundTask([this] { finishBackgroundTask(); }));
    }
    lifecycleQueue().async([this] {
        stopAndPostData();
        finishBackgroundTask();
    });
}

void RivloHandler::applicationWillEnterForeground() {
    runStep(RVSessionSteps::timeline().resetTimer);
    // After the background stop-and-post: until it has ended, the recorders' working files
    // and the captured tiles are in use, not leftovers.
    lifecycleQueue().async([] { cleanupDataAfterPosting(); });
}

void RivloHandler::applicationDidBecomeActive() {
    // Until the application has been in the background once, activation is the launch itself
    // (or the end of a passing interruption) and begins nothing.
    if (RVUtil::isAppLoadingFirstTime()) return;
    RVUtil::resetSetting();
    runStep(RVSessionSteps::timeline().reset);
    // Begun after the foreground clean-up, so that it cannot take the new session's files.
    // The host asking isRecording() is told the truth: this session records as the first did.
    lifecycleQueue().async([this] { startSession(); });
}

void RivloHandler::finishBackgroundTask() {
    const BackgroundTaskIdentifier task = backgroundTask_.exchange(InvalidBackgroundTask);
    if (task == InvalidBackgroundTask) return;
    if (auto application = Platform::current().application()) {
        application->endBackgroundTask(task);
    }
}

}  // namespace rivlo

// ---- Verification ---------------------------------------------------------------------------

namespace rivlo {

namespace {

// The application device identifier as text: the service sends text, a number is taken in its
// decimal form, anything else counts as missing.
std::string deviceIdentifierText(const Value& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
    if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
    if (value.is_number_float()) return RVSetting::valueText(value);
    return "";
}

}  // namespace

uint64_t RivloHandler::sessionGeneration() {
    return gSessionGeneration.load();
}

Value RivloHandler::verificationParameters() {
    return Value{
        {"app_key", RVUtil::applicationKey()},
        {"device_id", RVUtil::vendorIdentifier()},
        {"device_os", RVUtil::currentVersion()},
        {"device_type", RVUtil::devicePlatform()},
        {"platform", "ios"},
        {"appname", RVUtil::appName()},
    };
}

RivloHandler::VerificationAnswer RivloHandler::readVerificationAnswer(const std::string& body) {
    Value answer = PropertyList::fromJSON(body).value_or(Value());
    if (!answer.is_object()) {
        RVLog("Rivlo: the verification answer is not a JSON object; treating it as empty.");
        answer = Value::object();
    }
    VerificationAnswer read;
    read.verified = RVSetting::truthValue(RVSetting::entry(answer, "verify_status"));
    read.appDeviceId = deviceIdentifierText(RVSetting::entry(answer, "app_device_id"));
    read.latestRun = RVSetting::int32Value(RVSetting::entry(answer, "latest_run"));
    read.videoRecord = RVSetting::truthValue(RVSetting::entry(answer, "video_record"));
    read.settings = RVSetting::entry(answer, "settings");
    return read;
}

void RivloHandler::handleVerificationAnswer(const std::string& body, uint64_t generation) {
    const VerificationAnswer answer = readVerificationAnswer(body);
    // Identifier and run number are the service's, whatever the status.
    RVUtil::appDeviceId(answer.appDeviceId);
    RVUtil::saveLatestRunNo(static_cast<int64_t>(answer.latestRun));
    const bool videoRecord = answer.videoRecord;
    if (!answer.verified) return;

    if (generation != gSessionGeneration.load() || !gSessionStarted.load()) {
        RVLog("Rivlo: verification answer arrived after its session ended; nothing started.");
        return;
    }

    if (videoRecord) {
        RVLog(
            "Rivlo: Application key is verified, Rivlo has started capturing data as per "
            "configuration from Rivlo settings page.");
        RVUtil::saveSettingData(answer.settings);
    } else {
        RVLog(
            "Rivlo: Application key verified, but video recording is disabled. Just session "
            "information will be recorded.");
    }
    startOperation();
    saveInfo();
    RVUtil::isInfoPostSuccess(true);
}

void RivloHandler::handleVerificationFailure(const std::string& errorDescription,
                                             const std::optional<std::string>& responseString) {
    RVLog(
        "Rivlo: Application Key Verification Failed. Please check the application key is "
        "correct and that you have a working internet connection: Error: %s, Response: %s",
        errorDescription.c_str(), responseString ? responseString->c_str() : "(null)");
}

void RivloHandler::isRequestValid() {
    if (!RVUtil::isNetworkAvailable()) return;
    RVUtil::updateRunNumber();

    auto client = httpClient();
    if (!client) return;
    const uint64_t generation = gSessionGeneration.load();
    RVURLRequest request = client->requestWithMethod("POST", kVerifyPath, verificationParameters());
    auto operation = std::make_shared<RVAFJSONRequestOperation>(std::move(request));
    operation->setCompletionBlockWithSuccess(
        [this, generation](const std::shared_ptr<RVAFHTTPRequestOperation>& op, const Value&) {
            handleVerificationAnswer(op->responseData().value_or(""), generation);
        },
        [](const std::shared_ptr<RVAFHTTPRequestOperation>& op, const Error& error) {
            handleVerificationFailure(error.description(), op->responseString());
        });
    client->enqueueHTTPRequestOperation(operation);
}

}  // namespace rivlo
