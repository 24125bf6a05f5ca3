// The camera movie record: name, orientation code, form fields, stored form.

#include "CameraTestSupport.h"

#include "camera/RVCameraVideo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace rivlo;
using namespace rivlo::test;

namespace {

std::set<std::string> keys(const Value& dict) {
    std::set<std::string> out;
    for (auto it = dict.begin(); it != dict.end(); ++it)
        out.insert(it.key());
    return out;
}

}  // namespace

TEST(RVCameraVideo, ANewRecordIsNamedAfterTheInstallationAndCarriesThreeFields) {
    CameraWorld world;
    RVUtil::appDeviceId("APD-9");
    auto first = RVCameraVideo::init();
    auto second = RVCameraVideo::init();
    EXPECT_EQ(first->videoType, "camera");
    EXPECT_EQ(first->content, "");
    EXPECT_EQ(first->appDeviceId, "APD-9");
    EXPECT_EQ(first->videoDuration, "-1");
    EXPECT_FALSE(first->videoURL.has_value());
    EXPECT_EQ(first->videoName.rfind("APD-9_", 0), 0u);
    EXPECT_EQ(first->videoName.substr(first->videoName.size() - 4), ".mp4");
    EXPECT_NE(first->videoName, second->videoName);  // stamps never repeat
    EXPECT_TRUE(first->isValidCameraData());
    EXPECT_FALSE(RVCameraVideo().isValidCameraData());
    EXPECT_EQ(keys(first->postContents),
              (std::set<std::string>{"app_device_id", "video_type", "orientation"}));
}

TEST(RVCameraVideo, OrientationCodeFollowsTheStatusBarWhenTheRecordIsMade) {
    CameraWorld world;
    struct Case {
        int statusBar, code;
    };
    for (const Case& c : {Case{1, 1}, Case{2, 3}, Case{3, 0}, Case{4, 2}}) {
        world.app().setStatusBarOrientation(c.statusBar);
        auto video = RVCameraVideo::init();
        EXPECT_EQ(video->orientation, c.code) << "status bar " << c.statusBar;
        EXPECT_EQ(video->postContents["orientation"], c.code);
    }
}

TEST(RVCameraVideo, AMovieThatCannotBeReadIsSentWithDurationZero) {
    CameraWorld world;
    const std::string path = world.directory() + "/broken.mov";
    std::ofstream(path) << "no movie here";
    auto video = RVCameraVideo::initWithVideoUrl(URL::fileURL(path));
    EXPECT_EQ(video->videoDuration, "0");
    EXPECT_EQ(video->postContents["cv_duration"], "0");
    EXPECT_EQ(keys(video->postContents),
              (std::set<std::string>{"app_device_id", "video_type", "orientation", "cv_duration"}));
    EXPECT_EQ(RVCameraVideo::durationText(MediaTime{-2500, 1000}), "-2");
    EXPECT_EQ(RVCameraVideo::durationText(MediaTime{7, 0}), "0");
    EXPECT_EQ(RVCameraVideo::durationText(std::nullopt), "0");
}

TEST(RVCameraVideo, ARecordRebuiltFromTheStoreCarriesExactlyTheFourFields) {
    CameraWorld world;
    RVUtil::appDeviceId("APD-1");
    world.app().setStatusBarOrientation(4);
    auto made = RVCameraVideo::init();
    made->videoDuration = "12";
    const Value saved = made->savedDictionary();
    EXPECT_EQ(saved["videoOrientation"], 2);

    RVUtil::appDeviceId("APD-2");  // a later identifier changes nothing stored
    auto rebuilt = RVCameraVideo::initFromSavedDictionary(saved);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->postContents, (Value{{"app_device_id", "APD-1"},
                                            {"video_type", "camera"},
                                            {"cv_duration", "12"},
                                            {"orientation", 2}}));
    EXPECT_EQ(rebuilt->videoName, made->videoName);
    EXPECT_EQ(rebuilt->description(),
              "Content:, Video Type:camera, App DeviceId:APD-1, Video Name:" + made->videoName +
                  ", Video Duration:12, Video URL:(null) Orientation: 2");
}

TEST(RVCameraVideo, StoredEntriesThatCannotNameAFileAreRefusedOthersAreFilledIn) {
    CameraWorld world;
    RVUtil::appDeviceId("APD-3");
    EXPECT_FALSE(RVCameraVideo::initFromSavedDictionary(Value::array()));
    EXPECT_FALSE(RVCameraVideo::initFromSavedDictionary(Value{{"videoName", 5}}));
    EXPECT_FALSE(RVCameraVideo::initFromSavedDictionary(Value{{"videoName", "../x.mp4"}}));
    EXPECT_FALSE(RVCameraVideo::initFromSavedDictionary(Value{{"videoName", ""}}));

    LogLines log;
    auto partial = RVCameraVideo::initFromSavedDictionary(
        Value{{"videoName", "a.mp4"}, {"videoDuration", 7}, {"videoOrientation", "3"}});
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->postContents, (Value{{"app_device_id", "APD-3"},
                                            {"video_type", "camera"},
                                            {"cv_duration", "7"},
                                            {"orientation", 3}}));
    EXPECT_TRUE(log.contains("Stored camera video a.mp4 lacks videoType, appDeviceId"));
}
