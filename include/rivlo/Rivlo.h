#pragma once

// The Rivlo session-recording library: the facade a host application calls. C hosts use
// rivlo/rivlo.h instead; the two are the same library.
//
// A host starts the library, records, and closes it:
//
//     rivlo::Options options;                         // rivlo/Options.h
//     options.setApplicationId("com.example.notes");
//     rivlo::Rivlo::init(options);                    // main thread
//     rivlo::Rivlo::startApplicationWithKey("your-application-key");
//     ...                                             // the host's own event loop
//     rivlo::Rivlo::close(std::chrono::seconds(5));   // main thread, before exit
//
// Hosts written for earlier releases call startApplicationWithKey (or install a platform,
// rivlo/Platform.h) without init: the first such call starts the library with the
// environment's settings. After close only init starts it again; until then, and before the
// library started, every call here only writes a log line.
//
// "Main thread" is the thread that started the library (init, or the first platform
// installation), or the host's main thread when its event loop runs the library's work
// (rivlo/Platform.h, setMainThreadScheduler; a toolkit bridge). No call reports an error except
// init, flush and close; the library writes its log lines (each beginning with "Rivlo:") to the
// log sink (rivlo/Log.h). No call lets an exception out.

#include "rivlo/Error.h"
#include "rivlo/Options.h"
#include "rivlo/Version.h"

#include <any>
#include <chrono>
#include <string>

namespace rivlo {

class RIVLO_API Rivlo {
  public:
    Rivlo() = delete;

    // ---- Lifecycle ------------------------------------------------------------------------

    // Starts the library: installs the platform the options ask for (the Linux defaults unless
    // switched off), registers the recorders, and starts a session when the options hold an
    // application key. The calling thread becomes the main thread unless a scheduler was set.
    // Returns 0, RIVLO_ERROR_ALREADY_INITIALIZED while the library runs, RIVLO_ERROR_UNAVAILABLE
    // when a requested platform is missing (nothing started), or another rivlo_error. Main
    // thread.
    static int init(const Options& options);
    // Waits until the work under way has ended: stops and uploads in progress, every request
    // answered and its answer handled; up to `timeout`. Returns 0 when nothing is left,
    // RIVLO_ERROR_TIMEOUT when work still runs (it goes on), RIVLO_ERROR_NOT_INITIALIZED when
    // the library does not run. On the main thread it runs the library's main-thread work while
    // it waits; from another thread the main thread must keep turning. Any thread.
    static int flush(std::chrono::milliseconds timeout);
    // Stops the library: the open session is stopped and its uploads begun, what is being
    // uploaded is finished within `timeout` or cut short and kept in the store for the next
    // start; then every thread the library started is joined and what it allocated is freed,
    // and the platform it installed (and a toolkit bridge) is taken out. Returns 0 when
    // everything ended in time, RIVLO_ERROR_TIMEOUT when the limit cut work short (the library
    // is closed either way), RIVLO_ERROR_NOT_INITIALIZED when it did not run,
    // RIVLO_ERROR_WRONG_THREAD off the main thread. init may run again afterwards. Main thread.
    static int close(std::chrono::milliseconds timeout);
    // True between a successful init (or a first platform installation or start of an earlier
    // release's host) and close. Any thread.
    static bool isInitialized();

    // ---- Sessions -------------------------------------------------------------------------

    // Starts recording with the application key (spaces and tabs around it are ignored) on
    // systems of version 7.0 or later; on an older system it only logs. Only the first start
    // after init does anything. Main thread.
    static void startApplicationWithKey(const std::string& key);
    // As above with a theme, without the system version check. Main thread.
    static void start(const std::string& key, const std::string& theme);

    // Stops the session and uploads everything pending, on a background queue; returns at once.
    // Any thread.
    static void stopApplicationAndUploadData();
    // Begins a new session after stopApplicationAndUploadData; logs and does nothing while a
    // session is running. Main thread.
    static void restartSession();
    // True while a session started or restarted by the host is recording. Any thread.
    static bool isRecording();

    // ---- What the session records ---------------------------------------------------------

    // Marks this session's user as a favourite. Any thread.
    static void markUserAsFavorite();
    // Names the screen now showing (instead of its view controller's class name). Main thread.
    static void tagScreenName(const std::string& screenName);
    // The user's name for this session's data; additionalData is accepted and not used. Any
    // thread.
    static void tagUsersName(const std::string& name, const std::any& additionalData = {});
    // A free tag, stored with the seconds since the session's tag list began. Any thread.
    static void addTag(const std::string& tag);
    // The user's precise location; a later call replaces an earlier one. Any thread.
    static void setPreciseLocationLatitude(double latitude, double longitude);

    // The oldest system version the library records on.
    static constexpr const char* kMinimumSystemVersion = "7.0";
};

}  // namespace rivlo
