// The library's own HTTP client against the collector: the verification exchange and the
// uploads exactly as the library builds them, including the outcomes it relies on.

#include <gtest/gtest.h>

#include "foundation/RunLoop.h"
#include "foundation/URL.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFJSONRequestOperation.h"
#include "platform/headless/HeadlessPlatform.h"
#include "protocol/RVWireProtocol.h"

#include "CollectorIndex.h"
#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

class CollectorClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::main().setMainThread();
        platform_ = HeadlessPlatform::install();
        collector_ = std::make_unique<InProcessCollector>(data_.path(), [this](CollectorConfig& c) {
            c.faults.malformedVerifyShare = malformedShare_;
        });
        ASSERT_TRUE(collector_->start()) << collector_->startError();
        client_ = RVAFHTTPClient::clientWithBaseURL(*URL::parse(collector_->url("")));
    }
    void TearDown() override {
        RunLoop::main().runPending();
        client_.reset();
        collector_.reset();
        platform_.reset();
    }

    static bool runUntil(const std::function<bool()>& predicate) {
        return RunLoop::main().runUntil(predicate, std::chrono::seconds(30));
    }

    // The verification exchange as the session controller sends it.
    std::optional<Value> verify(const std::string& deviceId,
                                std::optional<Error>* failure = nullptr) {
        RVURLRequest request = client_->requestWithMethod("POST", RVWire::kVerifyPath,
                                                          Value{{"app_key", "test-key"},
                                                                {"device_id", deviceId},
                                                                {"device_os", "7.1"},
                                                                {"device_type", "iPhone"},
                                                                {"platform", "ios"},
                                                                {"appname", "Test App"}});
        std::optional<Value> answer;
        bool done = false;
        auto op = RVAFJSONRequestOperation::JSONRequestOperationWithRequest(
            request,
            [&](const RVURLRequest&, const std::optional<RVHTTPURLResponse>&, const Value& json) {
                answer = json;
                done = true;
            },
            [&](const RVURLRequest&, const std::optional<RVHTTPURLResponse>&, const Error& error,
                const Value&) {
                if (failure) *failure = error;
                done = true;
            });
        client_->enqueueHTTPRequestOperation(op);
        EXPECT_TRUE(runUntil([&] { return done; }));
        return answer;
    }

    // One upload as the uploaders build it: form fields, then the file part "file".
    bool upload(const std::string& path, const Value& fields, const std::string& file) {
        RVURLRequest request = client_->multipartFormRequestWithMethod(
            "POST", path, fields, [&](RVAFStreamingMultipartFormData& form) {
                EXPECT_TRUE(form.appendPartWithFileURL(URL::fileURL(file), "file"));
            });
        request.timeoutInterval = 120;
        std::optional<bool> result;
        auto op = client_->HTTPRequestOperationWithRequest(
            request, [&](const auto&, const Value&) { result = true; },
            [&](const auto&, const Error&) { result = false; });
        client_->enqueueHTTPRequestOperation(op);
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or(false);
    }

    std::vector<UploadRecord> stored() { return storedUploads(data_.path()); }

    double malformedShare_ = 0.0;
    TempDir data_, files_;
    std::shared_ptr<HeadlessPlatform> platform_;
    std::unique_ptr<InProcessCollector> collector_;
    std::shared_ptr<RVAFHTTPClient> client_;
};

TEST_F(CollectorClientTest, VerificationAndEveryUploadKindSucceed) {
    std::optional<Value> answer = verify("VENDOR-1");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["verify_status"], true);
    EXPECT_EQ((*answer)["video_record"], true);
    EXPECT_TRUE((*answer)["settings"].is_object());
    std::string apd = (*answer)["app_device_id"];

    std::string movie = files_.file("VENDOR-1_1765600000.mp4");
    std::string camera = files_.file(apd + "_1765600001.mp4");
    std::string document = files_.file("1765600002.txt");
    std::string tile = files_.file("1765600003.jpeg");
    writeFile(movie, std::string(300000, 's'));
    writeFile(camera, std::string(200000, 'c'));
    writeFile(document, nlohmann::json{{"apd", apd}, {"dr", "1"}, {"tt", "12"}}.dump(2));
    writeFile(tile, std::string(4000, 'j'));

    EXPECT_TRUE(upload(
        RVWire::kUploadVideoPath,
        Value{{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "12"}}, movie));
    EXPECT_TRUE(upload(RVWire::kUploadVideoPath,
                       Value{{"app_device_id", apd},
                             {"video_type", "camera"},
                             {"cv_duration", "11"},
                             {"orientation", "1"}},
                       camera));
    EXPECT_TRUE(upload(RVWire::kUploadDataPath, Value(), document));
    EXPECT_TRUE(upload(RVWire::kUploadWebTilesPath,
                       Value{{"app_device_id", apd},
                             {"orientation", "1"},
                             {"activity_name", "example.com/a"},
                             {"key", "k"},
                             {"total_rows", "2"},
                             {"total_columns", "1"},
                             {"gridImg_width", "320"},
                             {"gridImg_height", "500"},
                             {"dist_x", "0.000000"},
                             {"dist_y", "500.000000"}},
                       tile));
    // A retried upload is accepted again, so the library drops its copy.
    EXPECT_TRUE(upload(
        RVWire::kUploadVideoPath,
        Value{{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "12"}}, movie));

    std::vector<UploadRecord> uploads = stored();
    ASSERT_EQ(uploads.size(), 4u);
    for (const UploadRecord& u : uploads) {
        std::string original = files_.file(u.fileName);
        EXPECT_EQ(readFile(data_.path() + "/" + u.path), readFile(original)) << u.fileName;
        EXPECT_EQ(u.appDeviceId, apd);
    }
    EXPECT_EQ(verify("VENDOR-1").value_or(Value())["latest_run"], 1);
}

TEST_F(CollectorClientTest, RefusedUploadIsAFailureForTheLibraryAndStoresNothing) {
    std::string movie = files_.file("VENDOR-1_1765600100.mp4");
    writeFile(movie, std::string(1000, 'x'));
    EXPECT_FALSE(upload(RVWire::kUploadVideoPath,
                        Value{{"app_device_id", "a"}, {"video_type", "screen"}}, movie));
    EXPECT_TRUE(stored().empty());
}

class CollectorClientMalformedTest : public CollectorClientTest {
  protected:
    void SetUp() override {
        malformedShare_ = 1.0;
        CollectorClientTest::SetUp();
    }
};

TEST_F(CollectorClientMalformedTest, MalformedVerificationReachesTheFailureCallback) {
    std::optional<Error> failure;
    EXPECT_FALSE(verify("VENDOR-1", &failure));
    EXPECT_TRUE(failure.has_value());
}

}  // namespace
}  // namespace rivlo::collector::test
