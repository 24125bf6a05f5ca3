#pragma once

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"
#include "platform/Application.h"
#include "protocol/RVWireProtocol.h"
#include "rivlo/Version.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

class RVAFHTTPClient;
class Semaphore;

// The session controller: created by the first start call, alive until the library closes. It
// owns the HTTP client that talks to the service, begins sessions (verification, then
// recording), stops the recorders and hands their data to the uploaders, and follows the
// application between foreground and background.
//
// A session: startSession notes the start time and sends the verification request; a positive
// answer (main thread) stores the settings, runs startOperation (camera question, timeline
// clock, screen recorder, orientation events) and saveInfo. Entering the background, or the
// host's stop call, runs stopAndPostData off the main thread: gestures
// unregistered, recorders stopped on threads of their own, timeline, session document and web
// views saved, then the uploaders started (screen, camera, session data, web tiles).
//
// Threads: class methods may be called from any thread unless noted. The process-wide flags are
// atomics; the semaphore and the instance are guarded. Nothing is called out under a lock.
class RivloHandler {
  public:
    // Starts the library on the first call (the key and theme trimmed of spaces and tabs at
    // both ends); later calls change nothing. Serialised by a process-wide recursive lock.
    static void start(const std::string& key);
    static void start(const std::string& key, const std::string& theme);

    // The controller, or null before the first start.
    static RivloHandler* rivlo();
    // True between a start (or restart) and the next stop.
    static bool isSessionRecording();
    // True while a session is open: begun (verification issued) and not yet stopped and posted.
    static bool isSessionStarted();

    // Stops the running session and starts the upload of everything pending. Blocks while
    // another run is in progress. Runs on the global high-priority queue (any background thread
    // will do; never the main thread, which the uploads call back on).
    static void stopAndPostData();
    // Stops the recorders and saves the session's data without posting.
    static void stop();
    // Crash path: saves the crash record, then stop(). Nothing before the first start.
    static void crash();
    // Begins a new session after a stop; logs and does nothing while a session is open.
    static void restartSession();
    // Cleans the store's folders of files no list names.
    static void cleanupData();

    // The library closing: stops the open session and starts its uploads, in turn with the
    // application's moves (nothing when no session is open). Returns at once. Any thread.
    static void stopAndPostForClose();
    // The library closing, once its work has ended or been cancelled: forgets the controller
    // (observers removed, background task ended, instance freed) and the session flags, so the
    // next start creates it again. Any thread but the library's own.
    static void shutdown();
    // The same once no stop-and-post is running (taken in turn with them). A background
    // thread.
    static void cleanupDataAfterPosting();

    // ---- Instance -------------------------------------------------------------------------

    // Begins a session: directly when none is open (caller's thread), else stops and posts
    // the open one on the global queue first and begins the new one there.
    void startSession();
    // Sends the verification request when the network is reachable.
    void isRequestValid();
    // The verification request as sent: POST "/webservices/v2/verifyapp" with the six form
    // fields. Exposed for tests of the wire form.
    static Value verificationParameters();
    static constexpr const char* kVerifyPath = RVWire::kVerifyPath;

    // Handles the raw body of a successful verification answer (main thread). generation
    // identifies the session the request was sent for: an answer that arrives after that
    // session ended still applies the identifier and run number but starts nothing.
    void handleVerificationAnswer(const std::string& body, uint64_t generation);
    // What a verification answer says, read from its raw body: anything that is not a JSON
    // object reads as an empty one (logged), and each value through the settings' readers.
    struct VerificationAnswer {
        bool verified = false;
        std::string appDeviceId;
        int32_t latestRun = 0;
        bool videoRecord = false;
        Value settings;  // the "settings" entry as received (null when missing)
    };
    static VerificationAnswer readVerificationAnswer(const std::string& body);
    // The session generation now (bumped at every begin and stop of a session).
    static uint64_t sessionGeneration();
    // Logs a failed verification with the error's description and the response text.
    static void handleVerificationFailure(const std::string& errorDescription,
                                          const std::optional<std::string>& responseString);

    // Main thread, after a positive verification.
    void startOperation();
    void stopOperation();
    // Stores the fifteen device and application facts in the session document.
    void saveInfo();
    static Value infoDictionary();

    // Starts the timeline clock and the screen recorder: the end of startOperation's camera
    // step when no camera recorder takes the consent question (or after it settled it). Main
    // thread.
    static void startTimelineAndScreen();

    void finishBackgroundTask();

    // Application notifications (main thread). The background stop-and-post, the foreground
    // clean-up and the session an activation begins run in that order on one serial queue.
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();
    void applicationDidBecomeActive();
    void applicationWillResignActive() {}
    void applicationDidReceiveMemoryWarning() {}

    // The client every request goes through (null until the first start has created it).
    std::shared_ptr<RVAFHTTPClient> httpClient() const;
    BackgroundTaskIdentifier backgroundTask() const { return backgroundTask_.load(); }

    // Library version sent with the session facts (the service's number for this library).
    static constexpr const char* kLibraryVersion = RIVLO_SERVICE_LIBRARY_VERSION;

  private:
    RivloHandler();
    ~RivloHandler() = default;  // only shutdown() frees it

    void beginSession();

    mutable std::mutex mutex_;
    std::shared_ptr<RVAFHTTPClient> httpClient_;
    std::optional<NotificationCenter::Token> orientationObserver_;
    bool generatingOrientation_ = false;  // we asked the device for orientation events
    std::vector<NotificationCenter::Token> applicationObservers_;
    std::atomic<BackgroundTaskIdentifier> backgroundTask_{InvalidBackgroundTask};
};

}  // namespace rivlo
