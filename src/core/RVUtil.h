#pragma once

#include "foundation/Value.h"
#include "platform/Geometry.h"
#include "platform/Image.h"

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace rivlo {

class ObjClass;
class RVSetting;

// Process-wide facts and values that identify the running session: the application device
// identifier, the run number, the session clock, file stamps and the folders of the store (these
// four kept by the store, RVStoreSession and RVStorePaths, and answered here too); the current
// settings record and the upload allowance; device and application facts.
// Every member is safe to call from any thread.
class RVUtil {
  public:
    // The shared instance, created on first use and freed when the library closes.
    static RVUtil* sharedHandler();
    // Forgets the session's values (key, theme, alias, settings record, identity, session
    // clock, first-launch flag) when the library closes, so a new start begins afresh.
    static void forgetSession();

    // ---- Identity -------------------------------------------------------------------------

    // The identifier the service assigned to this installation ("" until it answered).
    static void appDeviceId(const std::string& identifier);
    static std::string appDeviceId();

    // True once this session's verification succeeded and its device facts were collected.
    static void isInfoPostSuccess(bool posted);
    static bool isInfoPostSuccess();

    // Run number of the current session (the shared instance's count), as "%ld" text.
    static std::string deviceRunNo();
    int64_t count() const { return count_.load(); }
    void setCount(int64_t count) { count_.store(count); }

    // ---- Session clock --------------------------------------------------------------------

    // Notes now as the session start.
    void startApplicationTimer();
    // Whole seconds since the session start, "%ld" ("0" before any start).
    std::string applicationTotalTime() const;
    // Now in local time as "yyyy-MM-dd hh:mm:ss a" (12-hour clock with AM/PM marker).
    std::string currentDate() const;

    // ---- File stamps ----------------------------------------------------------------------

    // A strictly increasing whole-second stamp (Unix time, bumped past the last one handed
    // out in this process), as "%lld".
    static std::string dateForFile();
    // As above, but keeps taking the next stamp while isTaken(stamp) says the name built
    // from it is in use. Stamps restart with each launch (and follow the wall clock back), so
    // a name from an earlier run may still be on disk.
    static std::string dateForFile(const std::function<bool(const std::string&)>& isTaken);
    // The stamp for a file named prefix + stamp + suffix in the store folder folderName
    // (e.g. "/RVData", "", ".txt"), never the name of a file already there.
    static std::string dateForFile(const std::string& folderName, const std::string& prefix,
                                   const std::string& suffix);

    // ---- Store folders --------------------------------------------------------------------

    // The application's caches directory: the one set here (tests, tools), else the installed
    // device's (Device::cachesDirectory, which every platform's install provides: on Linux
    // $XDG_CACHE_HOME/<application id>), else, with no platform installed, a folder named after
    // the program below $XDG_CACHE_HOME, $HOME/.cache or the temporary directory. Setting ""
    // goes back to the device's.
    static void setApplicationCachesDirectory(const std::string& directory);
    static std::string applicationCachesDirectory();
    // The store root: the caches directory followed by "/com.rivlo.rivlosdk".
    static std::string cachesDirectory();
    // The store root with name appended as one path component ("/RVData" → root/RVData).
    static std::string folderPath(const std::string& name);

    // ---- Session values -------------------------------------------------------------------

    // The application key given at start (trimmed), "" before.
    static void applicationKey(const std::string& key);
    static std::string applicationKey();
    // The theme given at start; kept, not used.
    static void theme(const std::string& theme);
    static std::string theme();
    // Keeps name as the user alias; additionalData is not used.
    static void tagUserName(const std::string& name, const std::any& additionalData = {});
    // The user alias, or the device's name when it is "".
    static std::string aliasName();
    // True until the application has been in the background once.
    static void isAppLoadingFirstTime(bool first);
    static bool isAppLoadingFirstTime();

    // Run number in the standard defaults under "RivloFramework.runNo": incremented (and
    // flushed) before each verification request; reconciled with the service's latest run.
    static constexpr const char* kRunNumberKey = "RivloFramework.runNo";
    static void updateRunNumber();
    static void saveLatestRunNo(int64_t latestRun);

    // ---- Settings and upload allowance ----------------------------------------------------

    // Makes a record filled from the answer's "settings" object current.
    static void saveSettingData(const Value& settings);
    // The current record; a default one is created (and made current) when there is none.
    static std::shared_ptr<RVSetting> setting();
    // Drops the current record, clears the information-posted flag and the sensitive views.
    static void resetSetting();
    // The same but keeps the sensitive views: the first start, which must not unmask the
    // views the host marked before it.
    static void resetSettingKeepingSensitiveViews();
    // Whether any network is reachable now; records the status in the current record (when
    // one exists).
    static bool isNetworkAvailable();
    // Whether an item of that many bytes may be uploaded now (Wi-Fi: always; cellular: within
    // the session's allowance; no record: always).
    static bool canSendData(int64_t size);

    // ---- Device and application facts ------------------------------------------------------

    // Front camera present.
    bool isCameraAvailable() const;
    // The hardware machine identifier ("iPhone7,2").
    static std::string deviceModel();
    // The marketing name of deviceModel(), or the identifier itself when unknown.
    static std::string devicePlatform();
    static std::string devicePlatformForModel(const std::string& machine);
    // "iPad" for the pad idiom, else "iPhone".
    static std::string deviceType();
    // The system version ("8.1.2"); "" without a device.
    static std::string currentVersion();
    // Whether the start call may start on this system: the device's version is at least
    // `minimum`, or the device says its version is not a mobile system's (Linux), to which
    // the minimum does not apply. False without a device.
    static bool isSupportedSystemVersion(const std::string& minimum);
    // The vendor identifier of this device, upper-case UUID text ("" without a device).
    static std::string vendorIdentifier();
    // "CFBundleDisplayName", else "CFBundleName", else "<UnknownAppName>".
    static std::string appName();
    // Pixel density: screen scale × 132 (pad), 160 (other idioms) or 163 (phone, unknown).
    static std::string resolution();
    // Status-bar orientation code: portrait 1, upside down 3, landscape right 0, left 2.
    static int32_t orientation();
    static int32_t orientationForStatusBar(int statusBarOrientation);
    // 1 for the portrait orientations, else 0.
    static int32_t webViewOrientaion();
    static int32_t webViewOrientaionForStatusBar(int statusBarOrientation);
    // The part of image inside rect (pixel coordinates); nullopt when nothing is left.
    static std::optional<Image> cropImage(const Image& image, const Rect& rect);
    // Hooks selector a of cls with b's implementation: added when cls only inherits a (and b
    // takes a's old implementation), else the two are exchanged. Logs and does nothing when
    // either method is missing.
    static void SafeExchange(ObjClass* cls, const std::string& a, const std::string& b);

    // ---- Helpers ---------------------------------------------------------------------------

    // Dotted version comparison, numerically per component, a missing component reading as 0
    // ("7" equals "7.0", "10.2" is after "7.1"): negative, zero or positive.
    static int compareVersions(const std::string& a, const std::string& b);
    // Removes white space (not line breaks) from both ends.
    static std::string trimWhitespace(const std::string& text);

  private:
    RVUtil() = default;
    std::atomic<int64_t> count_{0};
};

}  // namespace rivlo
