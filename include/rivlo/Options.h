#pragma once

// How the library starts: the C++ side of rivlo_options_t (rivlo/rivlo.h). A new Options holds
// the environment's settings as defaults (the RIVLO_* variables below); a setter overrides one.
// Hand it to rivlo::Rivlo::init.
//
//     rivlo::Options options;
//     options.setApplicationId("com.example.notes");
//     options.setApplicationKey("your-application-key");   // starts a session at init
//     if (int rc = rivlo::Rivlo::init(options); rc != 0) std::cerr << rivlo_strerror(rc);
//
// Setters return 0, or RIVLO_ERROR_INVALID_ARGUMENT (rivlo/Error.h) and change nothing. An
// Options object belongs to one thread at a time; the library keeps a copy of what it needs, so
// it may be destroyed after init returns.

#include "rivlo/Error.h"
#include "rivlo/Version.h"

#include <memory>
#include <string>

namespace rivlo {

class RIVLO_API Options {
  public:
    // The environment's settings: RIVLO_APP_ID, RIVLO_APP_NAME, RIVLO_APP_VERSION,
    // RIVLO_SERVICE_URL, RIVLO_CA_FILE, RIVLO_SCREEN, RIVLO_IDIOM and RIVLO_FRONT_CAMERA (an
    // unusable value is logged and left at the built-in default); the Linux defaults on, the
    // headless device off, no application key.
    Options();
    ~Options();
    Options(const Options& other);
    Options& operator=(const Options& other);

    // The application key. When set, init starts a session with it (startApplicationWithKey);
    // otherwise the host starts one later. Empty clears it.
    int setApplicationKey(const std::string& key);
    // Reverse-DNS identifier naming the application's caches and defaults folders
    // (RIVLO_APP_ID; the program's name when empty).
    int setApplicationId(const std::string& id);
    // The name people see (RIVLO_APP_NAME) and the application's version (RIVLO_APP_VERSION).
    int setDisplayName(const std::string& name);
    int setApplicationVersion(const std::string& version);
    // The service's base URL (RIVLO_SERVICE_URL): https, or http towards the loopback interface
    // only. Empty restores the built-in service.
    int setServiceURL(const std::string& url);
    // An extra certificate bundle to trust (RIVLO_CA_FILE); it must be a readable file. Empty:
    // the system's certificates only.
    int setCAFile(const std::string& path);
    // The screen the session reports (RIVLO_SCREEN="390x844@3"): points and scale, each
    // positive (scale at most 16).
    int setScreen(double width, double height, double scale);
    // The device type the session reports (RIVLO_IDIOM): "phone", "pad" or "unspecified".
    int setIdiom(const std::string& idiom);
    // Whether a video device (V4L2) is the front camera (RIVLO_FRONT_CAMERA=1).
    int setFrontCamera(bool useVideoDevice);
    // Whether init installs the Linux defaults (device facts, network state, folders, cameras,
    // movie encoders). On by default; off for a host that installs every seam itself.
    int setLinuxPlatform(bool install);
    // Whether init installs the headless device (librivlo-headless.so.1), an in-process
    // toolkit with one white window, for programs without a display. Off by default.
    int setHeadlessPlatform(bool install);

    // The library's own view of the settings (used by init and by the C API; opaque here).
    struct Data;
    const Data& data() const { return *data_; }
    Data& data() { return *data_; }

  private:
    std::unique_ptr<Data> data_;
};

}  // namespace rivlo
