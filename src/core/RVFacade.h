#pragma once

#include <any>
#include <string>

namespace rivlo {

// The facade's work behind the public rivlo::Rivlo (which admits a host's call only while the
// library runs, then hands it here). Suites, tools and the demo inside this build call it
// directly. Each method runs on the caller's thread (normally the host's main thread), except
// stopApplicationAndUploadData, which hands its work to the global high-priority queue.
class RVFacade {
  public:
    RVFacade() = delete;

    // Starts the controller with the key on supported systems (else only the log line).
    static void startApplicationWithKey(const std::string& key);
    // The same with a theme and without the system version check.
    static void start(const std::string& key, const std::string& theme);
    // Stop-and-post on the global high-priority queue; returns at once.
    static void stopApplicationAndUploadData();
    static void restartSession();
    static bool isRecording();

    static void markUserAsFavorite();
    static void tagScreenName(const std::string& screenName);
    static void tagUsersName(const std::string& name, const std::any& additionalData = {});
    static void addTag(const std::string& tag);
    static void setPreciseLocationLatitude(double latitude, double longitude);

    // The oldest system version the library records on.
    static constexpr const char* kMinimumSystemVersion = "7.0";
};

}  // namespace rivlo
