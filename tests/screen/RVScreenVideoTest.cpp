// The screen movie record: made from a real movie, saved and rebuilt as the store does.

#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "platform/Platform.h"
#include "platform/headless/HeadlessDevice.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "screen/MovieProbe.h"
#include "screen/RVScreenVideo.h"
#include "support/LogCapture.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <regex>

namespace fs = std::filesystem;
using namespace rivlo;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerScreenRecorder(), true);

const char* kVendor = "6B29FC40-CA47-1067-B31D-00DD010662DA";

class RVScreenVideoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rivlo-screenvideo-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        RVUtil::setApplicationCachesDirectory(dir_);
        HeadlessProfile profile;
        profile.vendorIdentifier = kVendor;
        profile.sandboxDirectory = dir_ + "/sandbox";
        PlatformServices services;
        services.device = std::make_shared<HeadlessDevice>(profile);
        Platform::current().installMissingOrReplace(services);
        FfmpegMovieWriterFactory::installDefaults();
        RVUtil::appDeviceId("APD-42");
        log_.emplace();
    }
    void TearDown() override {
        log_.reset();
        fs::remove_all(dir_);
    }

    // A real movie of the given length, written with the FFmpeg writer.
    std::string writeMovie(double seconds) {
        FfmpegMovieWriterFactory factory;
        const std::string path = dir_ + "/movie.mov";
        fs::remove(path);
        std::string error;
        auto writer = factory.createWriter(path, MovieFileType::QuickTimeMovie, &error);
        auto input = factory.createVideoInput({VideoCodec::H264, 64, 48, 100000, 2});
        auto adaptor = factory.createPixelBufferAdaptor(input, PixelFormat::BGRA32);
        EXPECT_TRUE(writer->addInput(input));
        EXPECT_TRUE(writer->startWriting());
        writer->startSessionAtSourceTime({0, 500});
        std::shared_ptr<PixelBuffer> buffer;
        EXPECT_EQ(adaptor->createPixelBuffer(buffer), 0);
        EXPECT_TRUE(adaptor->appendPixelBuffer(*buffer, {250, 500}));
        input->markAsFinished();
        writer->endSessionAtSourceTime({static_cast<int64_t>(seconds * 500), 500});
        std::atomic<bool> done{false};
        writer->finishWriting([&] { done = true; });
        EXPECT_TRUE(test::waitUntil([&] { return done.load(); }, 20));
        return path;
    }

    std::vector<std::string> logLines() { return log_->lines(); }

    std::string dir_;
    std::optional<test::LogCapture> log_;
};

}  // namespace

TEST_F(RVScreenVideoTest, RecordFromAMovieCarriesItsDurationTypeAndAFreshUploadName) {
    const std::string path = writeMovie(3.7);
    auto first = RVScreenVideo::initWithVideoUrl(URL::fileURL(path));
    auto second = RVScreenVideo::initWithVideoUrl(URL::fileURL(path));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->videoType, "screen");
    EXPECT_EQ(first->appDeviceId, "APD-42");
    EXPECT_EQ(first->videoDuration, "3");  // whole seconds, truncated
    ASSERT_TRUE(first->videoURL.has_value());
    EXPECT_EQ(first->videoURL->decodedPath(), path);
    EXPECT_FALSE(first->postContents.has_value());
    const std::regex name(std::string(kVendor) + "_[0-9]+\\.mp4");
    EXPECT_TRUE(std::regex_match(first->videoName, name)) << first->videoName;
    // Made in the same second, still two names.
    EXPECT_NE(first->videoName, second->videoName);
    EXPECT_TRUE(first->isValidScreenData());
}

TEST_F(RVScreenVideoTest, UnreadableMovieHasDurationZero) {
    const std::string text = dir_ + "/UserActivity.mov";
    std::ofstream(text) << "not a movie";
    for (const std::string& p : {text, dir_ + "/missing.mov"}) {
        auto video = RVScreenVideo::initWithVideoUrl(URL::fileURL(p));
        ASSERT_TRUE(video);
        EXPECT_EQ(video->videoDuration, "0") << p;
        EXPECT_EQ(video->videoType, "screen");
    }
}

TEST_F(RVScreenVideoTest, DurationTextTruncatesTowardZero) {
    EXPECT_EQ(RVScreenVideo::durationText(MediaTime{10999, 1000}), "10");
    EXPECT_EQ(RVScreenVideo::durationText(MediaTime{-1500, 1000}), "-1");
    EXPECT_EQ(RVScreenVideo::durationText(MediaTime{5, 0}), "0");
    EXPECT_EQ(RVScreenVideo::durationText(std::nullopt), "0");
}

TEST_F(RVScreenVideoTest, StoredEntryRoundTripsIntoExactlyThreeFormFields) {
    RVScreenVideo blank;
    EXPECT_EQ(blank.videoDuration, "-1");
    EXPECT_FALSE(blank.isValidScreenData());

    auto made = RVScreenVideo::initWithVideoUrl(URL::fileURL(writeMovie(2.2)));
    const Value saved = made->savedDictionary();
    EXPECT_EQ(saved.size(), 4u);
    auto rebuilt = RVScreenVideo::initFromSavedDictionary(saved);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->videoName, made->videoName);
    EXPECT_FALSE(rebuilt->videoURL.has_value());
    ASSERT_TRUE(rebuilt->postContents.has_value());
    const Value expected = {
        {"app_device_id", "APD-42"}, {"video_type", "screen"}, {"sv_duration", "2"}};
    EXPECT_EQ(*rebuilt->postContents, expected);
    EXPECT_EQ(rebuilt->description(), "Video Type:screen, App DeviceId:APD-42, Video Name:" +
                                          made->videoName + ", Video Duration:2");
    EXPECT_TRUE(logLines().empty());
}

TEST_F(RVScreenVideoTest, DamagedEntriesAreRefusedOrCompleted) {
    // Nothing to upload or delete by name: unreadable.
    EXPECT_FALSE(RVScreenVideo::initFromSavedDictionary(Value("text")));
    EXPECT_FALSE(RVScreenVideo::initFromSavedDictionary(Value::object()));
    EXPECT_FALSE(RVScreenVideo::initFromSavedDictionary(Value{{"videoName", 12}}));
    EXPECT_FALSE(RVScreenVideo::initFromSavedDictionary(Value{{"videoName", ""}}));
    EXPECT_FALSE(RVScreenVideo::initFromSavedDictionary(Value{{"videoName", "../../etc/x"}}));

    // A name but other keys missing or stored as numbers: the form still has all three fields.
    auto partial = RVScreenVideo::initFromSavedDictionary(
        Value{{"videoName", "A_1.mp4"}, {"videoDuration", 7}});
    ASSERT_TRUE(partial);
    const Value expected = {
        {"app_device_id", "APD-42"}, {"video_type", "screen"}, {"sv_duration", "7"}};
    EXPECT_EQ(*partial->postContents, expected);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("A_1.mp4"), std::string::npos);
    EXPECT_NE(lines[0].find("videoType, appDeviceId"), std::string::npos);
}
