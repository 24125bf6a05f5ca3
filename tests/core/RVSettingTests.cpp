#include "core/RVSetting.h"

#include "foundation/Log.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace rivlo {
namespace {

using test::LogCapture;

Value settingsWith(Value entries) {
    Value settings = Value::object();
    for (auto& [key, value] : entries.items())
        settings[key] = value;
    return settings;
}

TEST(RVSetting, DefaultsRecordNothingAndAllowNoCellularData) {
    RVSetting setting;
    EXPECT_FALSE(setting.isCameraVideoOn());
    EXPECT_FALSE(setting.isScreenVideoOn());
    EXPECT_EQ(setting.cameraVideoQuality(), "");
    EXPECT_FLOAT_EQ(setting.videoFrameRate(), 0.5f);
    EXPECT_DOUBLE_EQ(setting.videoAverageBitRateKey(), 307200.0);
    EXPECT_DOUBLE_EQ(setting.videoMaxKeyFrameIntervalKey(), 1);
    EXPECT_EQ(setting.threeGDataSize(), 0);
    EXPECT_EQ(setting.totalDataSent(), 0);
    EXPECT_EQ(setting.remoteHostStatus(), 0);
    EXPECT_EQ(setting.validUrl(), "");
    // An empty url never occurs, not even in an empty text.
    EXPECT_FALSE(setting.isValidUrl(""));
    EXPECT_FALSE(setting.isValidUrl("http://example.com/"));
    const std::string root = setting.cachesDirectory();
    EXPECT_EQ(root.substr(root.size() - std::string("/com.rivlo.rivlosdk").size()),
              "/com.rivlo.rivlosdk");
}

TEST(RVSetting, FillsEveryFieldFromTheSettingsObject) {
    RVSetting setting(Value::parse(R"({
        "camera_record": true, "screen_record": "1", "camera_quality": "medium",
        "camera_rec_start": 3, "camera_rec_duration": "60", "screen_quality": 2,
        "screen_rec_start": "0", "screen_rec_duration": 120, "wifi_status": 1,
        "g_status": "true", "wifi_data_size": "10", "url": "shop.example.com/cart",
        "g_data_size": 5})"));
    EXPECT_TRUE(setting.isCameraVideoOn());
    EXPECT_TRUE(setting.isScreenVideoOn());
    EXPECT_EQ(setting.cameraVideoQuality(), "medium");
    EXPECT_EQ(setting.cameraVideoStartTime(), 3);
    EXPECT_EQ(setting.cameraVidoeStopTime(), "60");
    EXPECT_FLOAT_EQ(setting.videoFrameRate(), 0.5f);
    EXPECT_EQ(setting.screenVideoStartTime(), "0");
    EXPECT_EQ(setting.screenVideoStopTime(), 120);
    EXPECT_TRUE(setting.isWifiOn());
    EXPECT_TRUE(setting.is3GOn());
    EXPECT_EQ(setting.wifiDataSize(), "10");
    EXPECT_EQ(setting.validUrl(), "shop.example.com/cart");
    EXPECT_EQ(setting.threeGDataSize(), 5 * 1048576);
    // Fields the answer does not fill keep their defaults.
    EXPECT_EQ(setting.screenVideoQuality(), "");
    EXPECT_FALSE(setting.isUnresponsiveGestureEnabled());
}

TEST(RVSetting, ScreenQualityIsFramesPerSecond) {
    EXPECT_FLOAT_EQ(RVSetting(settingsWith({{"screen_quality", 0}})).videoFrameRate(), 0.5f);
    EXPECT_FLOAT_EQ(RVSetting(Value::object()).videoFrameRate(), 0.5f);
    EXPECT_FLOAT_EQ(RVSetting(settingsWith({{"screen_quality", 4}})).videoFrameRate(), 0.25f);
    EXPECT_FLOAT_EQ(RVSetting(settingsWith({{"screen_quality", 5}})).videoFrameRate(), 0.2f);
    EXPECT_FLOAT_EQ(RVSetting(settingsWith({{"screen_quality", "2"}})).videoFrameRate(), 0.5f);
    EXPECT_FLOAT_EQ(RVSetting(settingsWith({{"screen_quality", 30}})).videoFrameRate(),
                    1.0f / 30.0f);
}

TEST(RVSetting, UnusableScreenQualityLogsAndKeepsHalfSecond) {
    for (const Value& quality : {Value(-2), Value(31), Value(1e9), Value("-4"), Value("fast")}) {
        LogCapture log;
        RVSetting setting(settingsWith({{"screen_quality", quality}}));
        EXPECT_FLOAT_EQ(setting.videoFrameRate(), 0.5f) << quality.dump();
        if (quality == "fast") {
            // A text without a number reads as 0: the ordinary default, no complaint.
            EXPECT_TRUE(log.lines().empty());
        } else {
            ASSERT_EQ(log.lines().size(), 1u) << quality.dump();
            EXPECT_NE(log.lines()[0].find("screen_quality"), std::string::npos);
        }
    }
}

TEST(RVSetting, UrlLosesSchemeAndWwwPrefixes) {
    RVSetting setting(settingsWith({{"url", "https://www.example.com/shop"}}));
    EXPECT_EQ(setting.validUrl(), "example.com/shop");
    EXPECT_TRUE(setting.isValidUrl("http://example.com/shop/item?id=3"));
    EXPECT_TRUE(setting.isValidUrl("https://www.example.com/shop"));
    EXPECT_FALSE(setting.isValidUrl("https://www.example.com/"));
    EXPECT_FALSE(setting.isValidUrl("https://www.EXAMPLE.com/shop"));  // case-sensitive

    // Every occurrence goes, in the order http://, https://, www.
    EXPECT_EQ(RVSetting(settingsWith({{"url", "http://a.com/?next=http://www.b.com"}})).validUrl(),
              "a.com/?next=b.com");
    // "https://" cannot hide an "http://": the first pass already took it apart.
    EXPECT_EQ(RVSetting(settingsWith({{"url", "hthttp://tp://x"}})).validUrl(), "http://x");
}

TEST(RVSetting, MissingOrNullUrlBecomesHttpScheme) {
    EXPECT_EQ(RVSetting(Value::object()).validUrl(), "http://");
    EXPECT_EQ(RVSetting(settingsWith({{"url", nullptr}})).validUrl(), "http://");
    EXPECT_TRUE(RVSetting(Value::object()).isValidUrl("http://anything"));
}

TEST(RVSetting, CellularAllowanceInMegabytes) {
    EXPECT_EQ(RVSetting(settingsWith({{"g_status", true}, {"g_data_size", 5}})).threeGDataSize(),
              5242880);
    EXPECT_EQ(RVSetting(settingsWith({{"g_status", false}, {"g_data_size", 5}})).threeGDataSize(),
              0);
    EXPECT_EQ(RVSetting(settingsWith({{"g_data_size", 5}})).threeGDataSize(), 0);
    // 2048 MB and more do not fit 32 bits; the allowance is computed in 64.
    EXPECT_EQ(RVSetting(settingsWith({{"g_status", 1}, {"g_data_size", 2048}})).threeGDataSize(),
              2048LL << 20);
    EXPECT_EQ(
        RVSetting(settingsWith({{"g_status", 1}, {"g_data_size", 5000000000LL}})).threeGDataSize(),
        2147483647LL << 20);
    // A negative figure allows nothing.
    EXPECT_EQ(RVSetting(settingsWith({{"g_status", 1}, {"g_data_size", -1}})).threeGDataSize(), 0);
}

TEST(RVSetting, WrongTypesCountAsMissing) {
    LogCapture log;
    RVSetting setting(Value::parse(R"({
        "camera_record": {"on": true}, "screen_record": [1], "camera_quality": {"q": 1},
        "url": 42, "g_status": true, "g_data_size": {"mb": 3}, "screen_quality": [4],
        "wifi_data_size": false})"));
    EXPECT_FALSE(setting.isCameraVideoOn());
    EXPECT_FALSE(setting.isScreenVideoOn());
    EXPECT_TRUE(setting.cameraVideoQuality().is_null());
    EXPECT_TRUE(setting.wifiDataSize().is_null());
    EXPECT_EQ(setting.validUrl(), "http://");
    EXPECT_EQ(setting.threeGDataSize(), 0);
    EXPECT_FLOAT_EQ(setting.videoFrameRate(), 0.5f);

    // A "settings" value that is not an object fills nothing.
    for (const char* text : {R"("on")", "[1,2]", "7"}) {
        RVSetting fromWrong(Value::parse(text));
        EXPECT_FALSE(fromWrong.isScreenVideoOn());
        EXPECT_EQ(fromWrong.validUrl(), "http://");
        EXPECT_FLOAT_EQ(fromWrong.videoFrameRate(), 0.5f);
    }
}

TEST(RVSetting, TruthValuesReadLikeThePlatform) {
    for (const char* yes : {"true", "YES", "y", "1", "  +0012", "T"}) {
        EXPECT_TRUE(RVSetting::truthValue(Value(yes))) << yes;
    }
    for (const char* no : {"false", "no", "0", "", "000", " -0", "abc"}) {
        EXPECT_FALSE(RVSetting::truthValue(Value(no))) << no;
    }
    EXPECT_TRUE(RVSetting::truthValue(Value(2)));
    EXPECT_TRUE(RVSetting::truthValue(Value(0.5)));
    EXPECT_FALSE(RVSetting::truthValue(Value(0)));
    EXPECT_FALSE(RVSetting::truthValue(Value(nullptr)));
    EXPECT_FALSE(RVSetting::truthValue(Value::object()));

    EXPECT_EQ(RVSetting::int32Value(Value("12abc")), 12);
    EXPECT_EQ(RVSetting::int32Value(Value(-7.9)), -7);
    EXPECT_EQ(RVSetting::int32Value(Value(1e12)), 2147483647);
    EXPECT_EQ(RVSetting::int32Value(Value(-1e12)), -2147483647 - 1);
    EXPECT_EQ(RVSetting::int32Value(Value("nan")), 0);
    EXPECT_EQ(RVSetting::int32Value(Value::array()), 0);
}

TEST(RVSetting, DescriptionHasTheFixedForm) {
    RVSetting setting(Value::parse(R"({"camera_record": true, "camera_quality": "low",
        "screen_record": true, "screen_quality": 4, "g_status": true, "g_data_size": 1,
        "url": "www.example.com", "camera_rec_start": 5})"));
    EXPECT_EQ(setting.description(),
              "Setting:\nisCameraVideoOn:1\ncameraVideoQuality:low\nisScreenVideoOn:1\n"
              "screenVideoFrameRate:0.250000\ncameraVideoStartTime:5\n"
              "cameraVidoeStopTime:(null)\nscreenVideoStartTime:(null)\n"
              "screenVideoStopTime:(null)\nisWifiOn:0\nis3GOn:1\nwifiDataSize:(null)\n"
              "threeGDataSize:1048576\nValidUrl:example.com\n");
}

TEST(RVSetting, DataSentAccumulates) {
    RVSetting setting;
    setting.updateDataSent(1000);
    setting.updateDataSent(24);
    EXPECT_EQ(setting.totalDataSent(), 1024);
}

}  // namespace
}  // namespace rivlo
