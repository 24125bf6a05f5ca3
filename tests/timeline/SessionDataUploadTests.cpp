// The upload of pending session data documents to a real loopback HTTP server, from a store
// in a temporary sandbox of the headless device.

#include "core/RVSetting.h"
#include "core/RVUtil.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFURLConnectionOperation.h"
#include "platform/headless/HeadlessPlatform.h"
#include "store/RVPlistHandler.h"
#include "support/DeviceSandbox.h"
#include "support/LogCapture.h"
#include "support/LoopbackHTTPServer.h"
#include "timeline/RVHeatTimeHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {

class SessionDataUpload : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = std::make_unique<DeviceSandbox>("uploaddata");
        RVUtil::resetSetting();
        for (const auto& f : store()->textFileList())
            store()->removeTextFile(*f);
        server_.route("POST", RVHeatTimeHandler::kUploadDataPath,
                      ScriptedResponse::json(200, R"({"status":"true"})"));
        client_ = RVAFHTTPClient::clientWithBaseURL(*URL::parse(server_.baseURL() + "/"));
        log_.emplace();  // the lines of the test itself
    }
    void TearDown() override {
        log_.reset();
        device_.reset();
    }

    static RVPlistHandler* store() { return RVPlistHandler::sharedHandler(); }
    static std::string pathOf(const RVTextFile& file) {
        return RVPlistHandler::pathInFolder(RVPlistHandler::kDataFolder, file.fileName);
    }
    // Runs the pass on a thread of its own, as the stop-and-post run does.
    void post() {
        std::thread stopping([this] { RVHeatTimeHandler::postHeatTimeData(client_); });
        stopping.join();
    }
    size_t pending() { return store()->textFileList().size(); }
    // The main thread keeps running while the requests go out (request bodies and callbacks
    // use it).

    LoopbackHTTPServer server_;
    std::shared_ptr<RVAFHTTPClient> client_;
    std::unique_ptr<DeviceSandbox> device_;
    std::optional<LogCapture> log_;
};

}  // namespace

TEST_F(SessionDataUpload, MissingFileIsDroppedAndTheOthersAreUploadedAsOneFilePart) {
    // No settings record is current when the pass begins (as after a failed verification):
    // every file after the first must still go out.
    auto first = store()->saveDataToTextFile(R"({"doc":1})");
    auto second = store()->saveDataToTextFile(R"({"doc":2})");
    auto third = store()->saveDataToTextFile(R"({"doc":3})");
    std::filesystem::remove(pathOf(*second));

    post();
    EXPECT_EQ(log_->count("Rivlo: HeatTimeData: missing file"), 1u);
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return server_.requestCount() >= 2; }, 10s))
        << server_.requestCount() << " requests; pending " << pending() << "; " << log_->all();
    // Each accepted upload removes its document (on the main queue).
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return pending() == 0; }, 10s));
    EXPECT_FALSE(std::filesystem::exists(pathOf(*first)));
    EXPECT_FALSE(std::filesystem::exists(pathOf(*third)));

    std::set<std::string> bodies;
    for (const auto& request : server_.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/webservices/v2/uploaddata");
        auto parts = parseMultipartBody(request);
        ASSERT_TRUE(parts.has_value());
        ASSERT_EQ(parts->size(), 1u);  // no form fields, only the file
        const MultipartPart& part = parts->at(0);
        EXPECT_EQ(part.name, "file");
        EXPECT_EQ(part.contentType, "text/plain");
        ASSERT_TRUE(part.fileName.has_value());
        EXPECT_TRUE(*part.fileName == first->fileName || *part.fileName == third->fileName);
        bodies.insert(part.body);
    }
    EXPECT_EQ(bodies, std::set<std::string>({R"({"doc":1})", R"({"doc":3})"}));
}

TEST_F(SessionDataUpload, AFileOverTheCellularAllowanceEndsThePass) {
    device_->platform().reachability().setStatus(NetworkStatus::Cellular);
    RVUtil::setting()->setThreeGDataSize(100);
    auto small = store()->saveDataToTextFile(std::string(10, 'a'));
    auto large = store()->saveDataToTextFile(std::string(1000, 'b'));
    auto after = store()->saveDataToTextFile(std::string(10, 'c'));

    post();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return server_.requestCount() >= 1; }, 10s));
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return pending() == 2; }, 10s));
    EXPECT_EQ(RVUtil::setting()->totalDataSent(), 10);
    auto left = store()->textFileList();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0]->fileName, large->fileName);
    EXPECT_EQ(left[1]->fileName, after->fileName);  // never tried
    EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(SessionDataUpload, FailedUploadsStayPendingAndNothingIsSentWithoutANetwork) {
    server_.route("POST", RVHeatTimeHandler::kUploadDataPath, ScriptedResponse::text(500, "busy"));
    auto doc = store()->saveDataToTextFile(R"({"doc":1})");
    post();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return server_.requestCount() >= 1; }, 10s));
    // The failure callback runs on the main queue, says so and keeps the document.
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return log_->count(doc->fileName + " not delivered, it stays stored") == 1; }, 10s))
        << log_->all();
    EXPECT_EQ(pending(), 1u);
    EXPECT_TRUE(std::filesystem::exists(pathOf(*doc)));

    device_->platform().reachability().setStatus(NetworkStatus::None);
    server_.clearRequests();
    post();
    RunLoop::main().runUntil([] { return false; }, 200ms);
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_EQ(pending(), 1u);
    EXPECT_EQ(log_->count("Rivlo:"), 1u) << log_->all();  // the failure above, nothing more
}

TEST_F(SessionDataUpload, AnAnswerLaterThanTheTimeOutKeepsTheDocumentForTheNextPass) {
    // The service takes the whole body, then holds its answer back: the transfer stalls and
    // times out (capped at one second here instead of the upload's two minutes).
    RVAFURLConnectionOperation::setTimeoutCap(1);
    struct Uncap {
        ~Uncap() { RVAFURLConnectionOperation::setTimeoutCap(0); }
    } uncap;
    ScriptedResponse held;
    held.neverRespond = true;
    server_.script("POST", RVHeatTimeHandler::kUploadDataPath,
                   {held, ScriptedResponse::json(200, R"({"status":"true"})")});
    auto doc = store()->saveDataToTextFile(R"({"doc":1})");

    post();
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return log_->count(doc->fileName + " not delivered, it stays stored") == 1; }, 60s))
        << log_->all();
    EXPECT_EQ(log_->count("Timeout was reached"), 1u) << log_->all();
    ASSERT_EQ(server_.requestCount(), 1u);
    EXPECT_TRUE(server_.requests().at(0).bodyComplete);  // the answer, not the body, was late
    EXPECT_EQ(pending(), 1u);
    EXPECT_TRUE(std::filesystem::exists(pathOf(*doc)));

    // The next pass delivers it once.
    post();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return pending() == 0; }, 10s)) << log_->all();
    EXPECT_FALSE(std::filesystem::exists(pathOf(*doc)));
    ASSERT_EQ(server_.requestCount(), 2u);
    auto parts = parseMultipartBody(server_.requests().at(1));
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->at(0).body, R"({"doc":1})");
}

TEST_F(SessionDataUpload, ADocumentRefusedThreeTimesIsMovedAsideAndNoLongerSent) {
    // 400 says the document itself is unacceptable; time-outs, rate limits and 5xx do not.
    EXPECT_FALSE(RVPlistHandler::isPermanentRefusal(408));
    EXPECT_FALSE(RVPlistHandler::isPermanentRefusal(429));
    EXPECT_FALSE(RVPlistHandler::isPermanentRefusal(500));
    server_.route("POST", RVHeatTimeHandler::kUploadDataPath, ScriptedResponse::text(400, "bad"));
    auto doc = store()->saveDataToTextFile(R"({"doc":1})");
    for (size_t pass = 1; pass <= 3; ++pass) {
        const size_t before = server_.requestCount();
        post();
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return server_.requestCount() > before; }, 10s));
        // The refusal is noted on the main queue: counted twice, then the document leaves.
        const std::string key = std::string(RVPlistHandler::kTextFileKey) + "/" + doc->fileName;
        ASSERT_TRUE(RunLoop::main().runUntil(
            [&] {
                const Value counts = UserDefaults::standard().dictionary("RvRefusals");
                return pass < 3 ? PropertyList::integer(counts, key) == int64_t(pass)
                                : pending() == 0 && counts.is_null();
            },
            10s))
            << "after pass " << pass << "; " << log_->all();
        EXPECT_EQ(pending(), pass < 3 ? 1u : 0u) << "after pass " << pass;
    }
    EXPECT_EQ(log_->count("Rivlo: The service refused RvTextFile " + doc->fileName + " 3 times"),
              1u)
        << log_->all();
    const auto aside = store()->setAsideEntries();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(aside[0]["name"], doc->fileName);
    EXPECT_EQ(aside[0]["status"], 400);
    const std::string kept = RVPlistHandler::pathInFolder(RVPlistHandler::kSetAsideFolder,
                                                          aside[0]["fileName"].get<std::string>());
    std::ifstream in(kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), R"({"doc":1})");

    server_.clearRequests();
    post();
    RunLoop::main().runUntil([] { return false; }, 200ms);
    EXPECT_EQ(server_.requestCount(), 0u);
}
