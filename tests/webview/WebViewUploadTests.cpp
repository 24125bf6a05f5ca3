// The tile upload pass against a real loopback HTTP server: records captured by real taps,
// saved into the store, uploaded one tile per request.

#include "WebViewWorld.h"

#include "http/RVAFHTTPClient.h"
#include "platform/Reachability.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {

class WebViewUpload : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.route("POST", RVWebViewHandler::kUploadPath,
                      ScriptedResponse::json(200, R"({"status":"true"})"));
        client_ = RVAFHTTPClient::clientWithBaseURL(*URL::parse(server_.baseURL() + "/"));
    }

    static RVPlistHandler* store() { return RVPlistHandler::sharedHandler(); }

    // Runs one pass from a thread of its own, as the stop-and-post run does, and keeps the main
    // run loop going until the pass has ended.
    void runPass() {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::thread stopping([this, ended] {
            RVWebViewHandler::postWebViewData(client_, [ended] { *ended = true; });
        });
        stopping.join();
        ASSERT_TRUE(RunLoop::main().runUntil([&] { return ended->load(); }, 20s))
            << server_.requestCount() << " requests";
    }

    // The text fields and the file part of a request.
    struct Upload {
        std::map<std::string, std::string> fields;
        std::string fileName;
        std::string contentType;
        std::string file;
        std::vector<std::string> order;
    };
    static Upload uploadOf(const RecordedRequest& request) {
        Upload u;
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/webservices/v2/uploadheatcordsweb");
        auto parts = parseMultipartBody(request);
        EXPECT_TRUE(parts.has_value());
        if (!parts) return u;
        for (const auto& part : *parts) {
            u.order.push_back(part.name);
            if (part.fileName) {
                u.fileName = *part.fileName;
                u.contentType = part.contentType;
                u.file = part.body;
            } else {
                u.fields[part.name] = part.body;
            }
        }
        return u;
    }
    std::vector<Upload> uploads() const {
        std::vector<Upload> out;
        for (const auto& r : server_.requests())
            out.push_back(uploadOf(r));
        return out;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    WebViewWorld world_;
    LoopbackHTTPServer server_;
    std::shared_ptr<RVAFHTTPClient> client_;
};

}  // namespace

TEST_F(WebViewUpload, ThreeTilesGoOutLastCapturedFirstThenTheRecordLeavesTheStore) {
    RVUtil::appDeviceId("apd-42");
    world_.tapWeb({100, 100});
    world_.scrollTo({0, 500});
    world_.tapWeb({100, 100});
    world_.scrollTo({0, 996});
    world_.tapWeb({100, 100});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    const auto tiles = record->achievedGridList();
    ASSERT_EQ(tiles.size(), 3u);
    std::vector<std::string> bytes;
    for (const auto& t : tiles)
        bytes.push_back(readFile(WebViewWorld::imagePath(t.imageName)));
    const std::string key = record->key();
    RVWebViewHandler::saveWebViewData();

    runPass();
    ASSERT_TRUE(
        RunLoop::main().runUntil([&] { return store()->webViewList<RVWebView>().empty(); }, 10s));
    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 3u);
    const std::vector<std::string> expectedY = {"1000.000000", "500.000000", "0.000000"};
    for (size_t i = 0; i < 3; ++i) {
        const Upload& u = sent[i];
        const RVWebViewGrid& tile = tiles[2 - i];
        EXPECT_EQ(u.fields.at("dist_y"), expectedY[i]);
        EXPECT_EQ(u.fields.at("dist_x"), "0.000000");
        EXPECT_EQ(u.fields.at("app_device_id"), "apd-42");
        EXPECT_EQ(u.fields.at("orientation"), "1");
        EXPECT_EQ(u.fields.at("activity_name"), WebViewWorld::kURL);
        EXPECT_EQ(u.fields.at("key"), key);
        EXPECT_EQ(u.fields.at("total_rows"), "3");
        EXPECT_EQ(u.fields.at("total_columns"), "1");
        EXPECT_EQ(u.fields.at("gridImg_width"), "320");
        EXPECT_EQ(u.fields.at("gridImg_height"), "500");
        EXPECT_EQ(u.fileName, tile.imageName);
        EXPECT_EQ(u.contentType, "image/jpeg");
        EXPECT_TRUE(u.file == bytes[2 - i]) << "tile " << i;
        // Exactly the ten fields, then the file.
        EXPECT_EQ(u.order.size(), 11u);
        EXPECT_EQ(u.order.back(), "file");
        EXPECT_FALSE(std::filesystem::exists(WebViewWorld::imagePath(tile.imageName)));
    }
    std::set<std::string> names;
    for (const auto& [name, value] : sent[0].fields)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"app_device_id", "orientation", "activity_name", "key",
                                            "total_rows", "total_columns", "gridImg_width",
                                            "gridImg_height", "dist_x", "dist_y"}));
    EXPECT_FALSE(UserDefaults::standard().has(RVPlistHandler::kWebViewKey));
    RVUtil::appDeviceId("");
}

TEST_F(WebViewUpload, ATileAtColumnOneRowTwoCarriesItsOffsetInThePage) {
    world_.showPage(WebViewWorld::kURL, {640, 1500});
    world_.scrollTo({320, 996});
    world_.tapWeb({80, 104});  // content (400, 1100)
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->totalColumn(), 2);
    ASSERT_EQ(record->achievedGridList().size(), 1u);
    EXPECT_EQ(record->achievedGridList()[0].rect, Rect(320, 1000, 320, 500));
    RVWebViewHandler::saveWebViewData();

    runPass();
    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].fields.at("dist_x"), "320.000000");
    EXPECT_EQ(sent[0].fields.at("dist_y"), "1000.000000");
    EXPECT_EQ(sent[0].fields.at("total_columns"), "2");
}

TEST_F(WebViewUpload, AnAddressContainingTheSeparatorIsSplitAtEveryOccurrence) {
    const std::string url = "https://shop.example.com/a__b";
    world_.showPage(url, {320, 900});
    world_.tapWeb({10, 10});
    ASSERT_NE(WebViewWorld::record(url + "__1"), nullptr);
    RVWebViewHandler::saveWebViewData();

    runPass();
    const auto sent = uploads();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].fields.at("activity_name"), "https://shop.example.com/a");
    EXPECT_EQ(sent[0].fields.at("orientation"), "b");
}

TEST_F(WebViewUpload, AFailingServiceGetsOneRequestPerStoredTilePerPass) {
    LogLines log;
    server_.route("POST", RVWebViewHandler::kUploadPath, ScriptedResponse::text(500, "down"));
    world_.tapWeb({100, 100});
    world_.scrollTo({0, 600});
    world_.tapWeb({100, 100});
    world_.showPage("https://shop.example.com/basket", {320, 400});
    world_.tapWeb({10, 10});
    RVWebViewHandler::saveWebViewData();
    const auto files = WebViewWorld::imageFiles();
    ASSERT_EQ(files.size(), 3u);

    runPass();
    EXPECT_EQ(server_.requestCount(), 3u);
    EXPECT_EQ(log.count("Web Image Post Failure: Error: "), 3u) << log.all();
    EXPECT_EQ(log.count("Response: down"), 3u) << log.all();
    // Everything stays stored for a later pass, which tries each tile once more.
    auto stored = store()->webViewList<RVWebView>();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(WebViewWorld::imageFiles(), files);

    server_.route("POST", RVWebViewHandler::kUploadPath,
                  ScriptedResponse::json(200, R"({"status":"true"})"));
    runPass();
    EXPECT_EQ(server_.requestCount(), 6u);
    ASSERT_TRUE(
        RunLoop::main().runUntil([&] { return store()->webViewList<RVWebView>().empty(); }, 10s));
    EXPECT_TRUE(WebViewWorld::imageFiles().empty());
}

TEST_F(WebViewUpload, NoRecordsNoNetworkOrAMissingImageSendNothingForThem) {
    // Nothing stored: no request.
    runPass();
    EXPECT_EQ(server_.requestCount(), 0u);

    world_.tapWeb({100, 100});
    world_.scrollTo({0, 600});
    world_.tapWeb({100, 100});
    auto tiles = WebViewWorld::record()->achievedGridList();
    ASSERT_EQ(tiles.size(), 2u);
    RVWebViewHandler::saveWebViewData();

    // No network: nothing goes, everything stays.
    world_.platform().reachability().setStatus(NetworkStatus::None);
    runPass();
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_EQ(store()->webViewList<RVWebView>().size(), 1u);

    // The second tile's image has gone: its stored entry is dropped, the first one goes out.
    world_.platform().reachability().setStatus(NetworkStatus::WiFi);
    std::filesystem::remove(WebViewWorld::imagePath(tiles[1].imageName));
    runPass();
    ASSERT_EQ(server_.requestCount(), 1u);
    EXPECT_EQ(uploadOf(server_.requests()[0]).fileName, tiles[0].imageName);
    ASSERT_TRUE(
        RunLoop::main().runUntil([&] { return store()->webViewList<RVWebView>().empty(); }, 10s));
}

TEST_F(WebViewUpload, AStopWhileAPassRunsJoinsItInsteadOfUploadingTheSameTilesAgain) {
    LogLines log;
    // A slow service keeps the first pass running while the second stop posts.
    auto slow = ScriptedResponse::json(200, R"({"status":"true"})");
    slow.delay = std::chrono::milliseconds(300);
    server_.route("POST", RVWebViewHandler::kUploadPath, slow);
    world_.tapWeb({100, 100});
    world_.scrollTo({0, 600});
    world_.tapWeb({100, 100});
    RVWebViewHandler::saveWebViewData();

    std::atomic<int> ended{0};
    std::thread first(
        [this, &ended] { RVWebViewHandler::postWebViewData(client_, [&ended] { ++ended; }); });
    first.join();
    ASSERT_TRUE(server_.waitForRequests(1, std::chrono::seconds(10)));
    // A page saved by the second stop is taken up by the running pass.
    world_.showPage("https://shop.example.com/basket", {320, 400});
    world_.tapWeb({10, 10});
    std::thread second([this, &ended] {
        RVWebViewHandler::saveWebViewData();
        RVWebViewHandler::postWebViewData(client_, [&ended] { ++ended; });
    });
    second.join();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return ended.load() == 2; }, 20s));
    EXPECT_EQ(log.count("an upload pass is running"), 1u) << log.all();
    EXPECT_EQ(server_.requestCount(), 3u);
    std::set<std::string> files;
    for (const auto& u : uploads())
        files.insert(u.fileName);
    EXPECT_EQ(files.size(), 3u);
    EXPECT_TRUE(store()->webViewList<RVWebView>().empty());
}
