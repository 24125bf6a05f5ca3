// Cameras on Linux: only nodes that open as V4L2 capture devices count; with none, the device
// has no usable front camera and a set-up reports the camera it could not open.

#include "CameraTestSupport.h"

#include "camera/RVCameraVideoHandler.h"
#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(LinuxCapture, NodesThatAreNotCaptureDevicesAreNotCameras) {
    char pattern[] = "/tmp/rivlo-v4l2-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::ofstream(dir + "/video0") << "not a device";
    fs::create_directory(dir + "/video1");
    std::ofstream(dir + "/null") << "";
    ::symlink("/dev/null", (dir + "/video2").c_str());
    EXPECT_TRUE(LinuxCapture::usableCameraPaths(dir).empty());
    EXPECT_TRUE(LinuxCapture(true, dir).devices().empty());
    EXPECT_TRUE(LinuxCapture::usableCameraPaths(dir + "/missing").empty());
    fs::remove_all(dir);
}

TEST(LinuxCapture, WithoutAUsableCameraTheDeviceOffersNoFrontCameraAndTheSetUpSaysSo) {
    if (LinuxCapture::hasUsableCamera()) GTEST_SKIP() << "this machine has a camera";
    CameraWorld world;
    char pattern[] = "/tmp/rivlo-linux-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    LinuxDeviceConfig config;
    config.applicationIdentifier = "com.rivlo.camera.test";
    config.frontCameraFromVideoDevice = true;
    config.cachesDirectory = dir + "/caches";
    config.defaultsDirectory = dir + "/defaults";
    LinuxDevice device(config);
    EXPECT_FALSE(device.isFrontCameraAvailable());

    // The Linux cameras replace the headless ones: there are none.
    auto headless = Platform::current().service<CaptureDeviceDiscovery>();
    LinuxCapture::install(true);
    EXPECT_EQ(RVCameraVideoHandler::frontFacingCameraIfAvailable(), nullptr);
    RVUtil::resetSetting();
    RVUtil::setting()->setIsCameraVideoOn(true);
    LogLines log;
    RVCameraVideoHandler::sharedHandler()->startRecordingInBackground();
    EXPECT_TRUE(log.contains("Rivlo: ERROR: trying to open camera: "));
    EXPECT_FALSE(RVCameraVideoHandler::sharedHandler()->isRecording());
    Platform::current().setService<CaptureDeviceDiscovery>(headless);
    fs::remove_all(dir);
}
