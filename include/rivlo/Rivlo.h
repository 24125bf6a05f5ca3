#pragma once

// The Rivlo session-recording library: the facade a host application calls. Installing the
// platform comes first (rivlo/Platform.h); C hosts use rivlo/rivlo.h instead.
//
// Start recording once, early (normally from the application's launch code, on the main
// thread, after the platform has been installed):
//
//     rivlo::Rivlo::startApplicationWithKey("your-application-key");
//
// Everything else is optional. No call reports an error; the library writes its log lines
// (each beginning with "Rivlo:") to the log sink.

#include "rivlo/Version.h"

#include <any>
#include <string>

namespace rivlo {

class RIVLO_API Rivlo {
  public:
    Rivlo() = delete;

    // Starts the library with the application key (spaces and tabs around it are ignored) on
    // systems of version 7.0 or later; on an older system it only logs. Only the first start
    // call of a process does anything. Host's thread (normally main).
    static void startApplicationWithKey(const std::string& key);
    // As above with a theme, without the system version check.
    static void start(const std::string& key, const std::string& theme);

    // Stops the session and uploads everything pending, on a background queue; returns at once.
    static void stopApplicationAndUploadData();
    // Begins a new session after stopApplicationAndUploadData; logs and does nothing while a
    // session is running.
    static void restartSession();
    // True while a session started or restarted by the host is recording.
    static bool isRecording();

    // Marks this session's user as a favourite.
    static void markUserAsFavorite();
    // Names the screen now showing (instead of its view controller's class name).
    static void tagScreenName(const std::string& screenName);
    // The user's name for this session's data; additionalData is accepted and not used.
    static void tagUsersName(const std::string& name, const std::any& additionalData = {});
    // A free tag, stored with the seconds since the session's tag list began.
    static void addTag(const std::string& tag);
    // The user's precise location; a later call replaces an earlier one.
    static void setPreciseLocationLatitude(double latitude, double longitude);

    // The oldest system version the library records on.
    static constexpr const char* kMinimumSystemVersion = "7.0";
};

}  // namespace rivlo
