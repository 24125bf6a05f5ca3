#include "core/RVUtil.h"

#include "core/RVSetting.h"
#include "foundation/Clock.h"
#include "foundation/UserDefaults.h"
#include "platform/Image.h"
#include "platform/Runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace rivlo {
namespace {

namespace fs = std::filesystem;

// The standard defaults on a fresh temporary folder, restored afterwards.
class TemporaryDefaults {
  public:
    TemporaryDefaults() {
        char pattern[] = "/tmp/rivlo-core-defaults-XXXXXX";
        directory_ = mkdtemp(pattern);
        UserDefaults::setStandardDirectory(directory_);
        UserDefaults::standard().reload();
    }
    ~TemporaryDefaults() {
        std::error_code ec;
        fs::remove_all(directory_, ec);
    }
    const std::string& directory() const { return directory_; }

  private:
    std::string directory_;
};

TEST(RVUtilDevice, ModelTableNamesKnownMachinesAndPassesOthersThrough) {
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPad3,5"), "iPad 4");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPhone8,1"), "iPhone8,1");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPhone7,2"), "iPhone 6");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPhone7,1"), "iPhone 6 Plus");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPad2,5"), "iPad Mini");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPad4,4"), "iPad Mini");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPad4,3"), "iPad Air");
    EXPECT_EQ(RVUtil::devicePlatformForModel("iPod5,1"), "iPod Touch 5G");
    EXPECT_EQ(RVUtil::devicePlatformForModel("x86_64"), "Simulator");
    EXPECT_EQ(RVUtil::devicePlatformForModel("i386"), "Simulator");
    EXPECT_EQ(RVUtil::devicePlatformForModel(""), "");
    EXPECT_EQ(RVUtil::devicePlatformForModel("aarch64"), "aarch64");
}

TEST(RVUtilDevice, StatusBarOrientationCodes) {
    EXPECT_EQ(RVUtil::orientationForStatusBar(1), 1);
    EXPECT_EQ(RVUtil::orientationForStatusBar(2), 3);
    EXPECT_EQ(RVUtil::orientationForStatusBar(3), 0);
    EXPECT_EQ(RVUtil::orientationForStatusBar(4), 2);
    EXPECT_EQ(RVUtil::orientationForStatusBar(0), 1);
    EXPECT_EQ(RVUtil::orientationForStatusBar(17), 1);

    EXPECT_EQ(RVUtil::webViewOrientaionForStatusBar(1), 1);
    EXPECT_EQ(RVUtil::webViewOrientaionForStatusBar(2), 1);
    EXPECT_EQ(RVUtil::webViewOrientaionForStatusBar(3), 0);
    EXPECT_EQ(RVUtil::webViewOrientaionForStatusBar(4), 0);
    EXPECT_EQ(RVUtil::webViewOrientaionForStatusBar(0), 0);
}

TEST(RVUtilHelpers, VersionsCompareNumericallyPerComponent) {
    EXPECT_LT(RVUtil::compareVersions("6.1.4", "7.0"), 0);
    EXPECT_EQ(RVUtil::compareVersions("7.0", "7.0"), 0);
    EXPECT_EQ(RVUtil::compareVersions("7", "7.0"), 0);
    EXPECT_GT(RVUtil::compareVersions("7.0.3", "7.0"), 0);
    EXPECT_GT(RVUtil::compareVersions("7.1", "7.0"), 0);
    EXPECT_GT(RVUtil::compareVersions("10.2", "7.0"), 0);
    EXPECT_GT(RVUtil::compareVersions("10.0", "9.9.9"), 0);
    EXPECT_EQ(RVUtil::compareVersions("007.00", "7"), 0);
    EXPECT_GT(RVUtil::compareVersions("99999999999999999999.1", "7.0"), 0);
    EXPECT_LT(RVUtil::compareVersions("", "7.0"), 0);
    EXPECT_LT(RVUtil::compareVersions("7.0a", "7.0b"), 0);
}

TEST(RVUtilHelpers, TrimRemovesSpacesAndTabsButKeepsLineBreaks) {
    EXPECT_EQ(RVUtil::trimWhitespace("  key\t "), "key");
    EXPECT_EQ(RVUtil::trimWhitespace("\tkey\n"), "key\n");
    EXPECT_EQ(RVUtil::trimWhitespace("\nkey"), "\nkey");
    EXPECT_EQ(RVUtil::trimWhitespace("a b"), "a b");
    EXPECT_EQ(RVUtil::trimWhitespace(" \t "), "");
    EXPECT_EQ(RVUtil::trimWhitespace(""), "");
    // No-break and ideographic spaces are white space too; other UTF-8 text is untouched.
    EXPECT_EQ(RVUtil::trimWhitespace("\xC2\xA0key\xE3\x80\x80"), "key");
    EXPECT_EQ(RVUtil::trimWhitespace("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

TEST(RVUtilRunNumber, FirstLaunchThenServiceReconciliation) {
    TemporaryDefaults defaults;
    auto& store = UserDefaults::standard();
    ASSERT_FALSE(store.has(RVUtil::kRunNumberKey));

    RVUtil::updateRunNumber();
    EXPECT_EQ(store.integer(RVUtil::kRunNumberKey), 1);
    EXPECT_EQ(RVUtil::deviceRunNo(), "1");

    RVUtil::saveLatestRunNo(1);  // agrees: unchanged
    EXPECT_EQ(store.integer(RVUtil::kRunNumberKey), 1);
    EXPECT_EQ(RVUtil::sharedHandler()->count(), 1);

    RVUtil::saveLatestRunNo(7);  // the service knows more runs
    EXPECT_EQ(store.integer(RVUtil::kRunNumberKey), 8);
    EXPECT_EQ(RVUtil::deviceRunNo(), "8");

    RVUtil::saveLatestRunNo(0);  // the service's figure wins, also when lower
    EXPECT_EQ(store.integer(RVUtil::kRunNumberKey), 1);
    EXPECT_EQ(RVUtil::sharedHandler()->count(), 1);

    // Flushed to the file: a fresh reader sees it.
    UserDefaults reread(store.filePath());
    EXPECT_EQ(reread.integer(RVUtil::kRunNumberKey), 1);
}

TEST(RVUtilClock, FileStampsStrictlyIncrease) {
    const auto before = static_cast<long long>(std::trunc(Clock::now()));
    const long long a = std::stoll(RVUtil::dateForFile());
    const long long b = std::stoll(RVUtil::dateForFile());
    const long long c = std::stoll(RVUtil::dateForFile());
    const auto after = static_cast<long long>(std::trunc(Clock::now()));
    EXPECT_GE(a, before);
    EXPECT_GT(b, a);
    EXPECT_GT(c, b);
    // Within one second the stamps are t, t+1, t+2: never further than that from the clock.
    EXPECT_LE(c, std::max(after, a) + 2);
}

TEST(RVUtilClock, TotalTimeAndCurrentDatePattern) {
    RVUtil::sharedHandler()->startApplicationTimer();
    EXPECT_EQ(RVUtil::sharedHandler()->applicationTotalTime(), "0");
    const std::string date = RVUtil::sharedHandler()->currentDate();
    // "YYYY-MM-dd hh:mm:ss a": 2026-12-08 07:05:09 AM
    ASSERT_EQ(date.size(), 22u) << date;
    for (size_t i : {4u, 7u})
        EXPECT_EQ(date[i], '-');
    EXPECT_EQ(date[10], ' ');
    EXPECT_EQ(date[13], ':');
    EXPECT_EQ(date[16], ':');
    EXPECT_TRUE(date.substr(20) == "AM" || date.substr(20) == "PM") << date;
    const int hour = std::stoi(date.substr(11, 2));
    EXPECT_GE(hour, 1);
    EXPECT_LE(hour, 12);
}

TEST(RVUtilSettings, CurrentRecordIsCreatedOnDemandAndDroppedByReset) {
    RVUtil::resetSetting();
    auto first = RVUtil::setting();
    ASSERT_TRUE(first);
    EXPECT_EQ(RVUtil::setting(), first);  // the same record until dropped

    RVUtil::saveSettingData(Value::parse(R"({"screen_record": true, "screen_quality": 4})"));
    auto saved = RVUtil::setting();
    EXPECT_NE(saved, first);
    EXPECT_TRUE(saved->isScreenVideoOn());
    EXPECT_FLOAT_EQ(saved->videoFrameRate(), 0.25f);

    RVUtil::isInfoPostSuccess(true);
    RVUtil::resetSetting();
    EXPECT_FALSE(RVUtil::isInfoPostSuccess());
    auto fresh = RVUtil::setting();
    EXPECT_NE(fresh, saved);
    EXPECT_FALSE(fresh->isScreenVideoOn());
    // A record handed out earlier stays valid for whoever still holds it.
    EXPECT_TRUE(saved->isScreenVideoOn());
}

TEST(RVUtilSettings, CellularAllowanceCountsBytesPerRecord) {
    RVUtil::resetSetting();
    auto setting = RVUtil::setting();
    setting->setRemoteHostStatus(1);  // Wi-Fi: everything goes
    EXPECT_TRUE(RVUtil::canSendData(int64_t{1} << 40));

    RVUtil::saveSettingData(Value::parse(R"({"g_status": true, "g_data_size": 1})"));
    setting = RVUtil::setting();
    setting->setRemoteHostStatus(2);
    EXPECT_TRUE(RVUtil::canSendData(1048575));
    setting->updateDataSent(1048575);
    EXPECT_FALSE(RVUtil::canSendData(1));
    EXPECT_FALSE(RVUtil::canSendData(INT64_MAX));  // no wrap-around into "allowed"
    EXPECT_TRUE(RVUtil::canSendData(0));           // an empty item still fits

    RVUtil::saveSettingData(Value::parse(R"({"g_status": false, "g_data_size": 100})"));
    RVUtil::setting()->setRemoteHostStatus(2);
    EXPECT_FALSE(RVUtil::canSendData(1));

    RVUtil::setting()->setRemoteHostStatus(0);
    EXPECT_FALSE(RVUtil::canSendData(0));
    RVUtil::setting()->setRemoteHostStatus(5);
    EXPECT_FALSE(RVUtil::canSendData(0));

    RVUtil::resetSetting();
    // No record at all (and none created by asking).
    EXPECT_TRUE(RVUtil::canSendData(int64_t{1} << 40));
}

TEST(RVUtilImages, CropTakesTheRectangleInPixels) {
    std::vector<uint8_t> pixels(4 * 4 * 4, 0);
    // Mark pixel (2, 1) red.
    const size_t at = (1 * 4 + 2) * 4;
    pixels[at + 2] = 255;
    pixels[at + 3] = 255;
    Image image(4, 4, 2.0, pixels);
    auto cropped = RVUtil::cropImage(image, Rect(2, 1, 2, 2));
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->width(), 2);
    EXPECT_EQ(cropped->height(), 2);
    EXPECT_EQ(cropped->pixelAt(0, 0), (Image::Pixel{0, 0, 255, 255}));
    EXPECT_EQ(cropped->pixelAt(1, 1), (Image::Pixel{0, 0, 0, 0}));
    EXPECT_FALSE(RVUtil::cropImage(image, Rect(10, 10, 2, 2)));
}

using Greeting = std::string();

std::string call(ObjClass* cls, const char* selector) {
    return invokeImplementation<Greeting>(cls->lookup(selector), selector);
}

TEST(RVUtilRuntime, SafeExchangeAddsWhereTheSelectorIsInherited) {
    ObjClass* base = ObjClass::define("CoreTestBaseA", ObjClass::named("NSObject"));
    ObjClass* sub = ObjClass::define("CoreTestSubA", base);
    base->replaceMethod("greet", makeImplementation<Greeting>([] { return std::string("base"); }));
    sub->replaceMethod("hooked_greet",
                       makeImplementation<Greeting>([] { return std::string("hook"); }));

    RVUtil::SafeExchange(sub, "greet", "hooked_greet");
    // The subclass now answers with the hook, and the hook's selector reaches the original.
    EXPECT_EQ(call(sub, "greet"), "hook");
    EXPECT_EQ(call(sub, "hooked_greet"), "base");
    // The superclass is untouched.
    EXPECT_EQ(call(base, "greet"), "base");
}

TEST(RVUtilRuntime, SafeExchangeSwapsWhereTheClassDefinesBoth) {
    ObjClass* cls = ObjClass::define("CoreTestOwnB", ObjClass::named("NSObject"));
    cls->replaceMethod("greet", makeImplementation<Greeting>([] { return std::string("own"); }));
    cls->replaceMethod("hooked_greet",
                       makeImplementation<Greeting>([] { return std::string("hook"); }));
    RVUtil::SafeExchange(cls, "greet", "hooked_greet");
    EXPECT_EQ(call(cls, "greet"), "hook");
    EXPECT_EQ(call(cls, "hooked_greet"), "own");

    // A missing selector changes nothing.
    RVUtil::SafeExchange(cls, "greet", "no_such_selector");
    EXPECT_EQ(call(cls, "greet"), "hook");
}

}  // namespace
}  // namespace rivlo
