#pragma once

// What the library, the service and the stored files agree on: the request paths, the store's
// folder and list names, and the gesture codes written into the timeline. The library, the
// reference collector (tools/collector) and the tests all take them from here; changing one
// changes the protocol or the format of files already stored on devices.

#include <cstdint>

namespace rivlo {

namespace RVWire {

// Request paths, relative to the service's base URL.
inline constexpr const char* kVerifyPath = "/webservices/v2/verifyapp";
inline constexpr const char* kUploadVideoPath = "/webservices/v2/uploadvideo";
inline constexpr const char* kUploadDataPath = "/webservices/v2/uploaddata";
inline constexpr const char* kUploadWebTilesPath = "/webservices/v2/uploadheatcordsweb";

// The store's root folder below the application's caches directory.
inline constexpr const char* kStoreFolder = "com.rivlo.rivlosdk";

// The store's lists (keys of the list file) and the folders below the store root that hold
// their files.
inline constexpr const char* kTextFileList = "RvTextFile";
inline constexpr const char* kScreenVideoList = "RvScreenVideo";
inline constexpr const char* kCameraVideoList = "RvCameraVideo";
inline constexpr const char* kWebViewList = "RvWebView";
inline constexpr const char* kCrashList = "RvCrash";
inline constexpr const char* kDataFolder = "/RVData";
inline constexpr const char* kScreenVideoFolder = "/RVScreenVideos";
inline constexpr const char* kCameraVideoFolder = "/RVCameraVideos";
inline constexpr const char* kWebViewImageFolder = "/RivloWebViewImages";

}  // namespace RVWire

// Gesture codes handed to the screen recorder (RVViewVideoHandler::setCurrentGesture).
namespace RVGestureCode {
inline constexpr int32_t Tap = 0;
inline constexpr int32_t SwipeUp = 1;
inline constexpr int32_t SwipeDown = 2;
inline constexpr int32_t SwipeRight = 3;
inline constexpr int32_t SwipeLeft = 4;
inline constexpr int32_t PinchOut = 5;
inline constexpr int32_t PinchIn = 6;
}  // namespace RVGestureCode

// Event codes written into position 4 of a timeline coordinate record (6 and 9 are not used).
namespace RVTimelineEvent {
inline constexpr int32_t SingleTap = 0;
inline constexpr int32_t DoubleTap = 1;
inline constexpr int32_t SwipeUp = 2;
inline constexpr int32_t SwipeDown = 3;
inline constexpr int32_t SwipeLeft = 4;
inline constexpr int32_t SwipeRight = 5;
inline constexpr int32_t PinchOut = 7;
inline constexpr int32_t PinchIn = 8;
inline constexpr int32_t OrientationChange = 10;
}  // namespace RVTimelineEvent

}  // namespace rivlo
