// One whole session through the controller on the headless device against a loopback service:
// verification, real taps on a web page, stop and post. The registered steps save the registry
// at the stop and upload its tiles after the session document. A process runs one such session
// (the controller lives for the process).

#include "WebViewWorld.h"

#include "core/RVFacade.h"
#include "core/RivloHandler.h"
#include "interaction/RVGestureHandler.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {
// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered =
    (registerWebViews(), registerInteraction(), registerTimeline(), registerScreenRecorder(), true);
}  // namespace

TEST(WebViewSession, TilesOfAVerifiedSessionAreSavedAtTheStopAndUploaded) {
    WebViewWorld world;
    RVUtil::isInfoPostSuccess(false);  // the controller sets it when the service says yes
    LoopbackHTTPServer server;
    server.route("POST", "/webservices/v2/verifyapp",
                 ScriptedResponse::json(200, R"({"verify_status":true,"app_device_id":"apd-3",
                     "latest_run":1,"video_record":true,
                     "settings":{"url":"shop.example.com","wifi_status":true}})"));
    server.route("POST", "/webservices/v2/uploaddata",
                 ScriptedResponse::json(200, R"({"status":"true"})"));
    server.route("POST", RVWebViewHandler::kUploadPath,
                 ScriptedResponse::json(200, R"({"status":"true"})"));
    setenv("RIVLO_SERVICE_URL", server.baseURL().c_str(), 1);

    // Before verification, touches capture nothing.
    world.tapWeb({5, 5});
    EXPECT_TRUE(RVWebViewHandler::sharedHandler()->webViewDict().empty());
    RVFacade::startApplicationWithKey(" key ");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 10s));

    world.tapWeb({100, 100});
    world.scrollTo({0, 700});
    world.tapWeb({60, 80});
    auto record = WebViewWorld::record();
    ASSERT_NE(record, nullptr);
    const auto tiles = record->achievedGridList();
    ASSERT_EQ(tiles.size(), 2u);

    RVFacade::stopApplicationAndUploadData();
    auto requestsTo = [&](const std::string& path) {
        std::vector<RecordedRequest> out;
        for (const auto& r : server.requests())
            if (r.path == path) out.push_back(r);
        return out;
    };
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return requestsTo(RVWebViewHandler::kUploadPath).size() >= 2; }, 20s));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [] { return RVPlistHandler::sharedHandler()->webViewList<RVWebView>().empty(); }, 10s));
    EXPECT_TRUE(RVWebViewHandler::sharedHandler()->webViewDict().empty());

    // The tiles went out last first, with the device identifier of the session.
    const auto uploads = requestsTo(RVWebViewHandler::kUploadPath);
    ASSERT_EQ(uploads.size(), 2u);
    std::vector<std::string> files, devices;
    for (const auto& r : uploads) {
        auto parts = parseMultipartBody(r);
        ASSERT_TRUE(parts.has_value());
        for (const auto& p : *parts) {
            if (p.fileName) files.push_back(*p.fileName);
            if (p.name == "app_device_id") devices.push_back(p.body);
        }
    }
    EXPECT_EQ(files, (std::vector<std::string>{tiles[1].imageName, tiles[0].imageName}));
    EXPECT_EQ(devices, (std::vector<std::string>{"apd-3", "apd-3"}));

    // The session document's timeline has the page as a web screen, its taps at their content
    // points.
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return !requestsTo("/webservices/v2/uploaddata").empty(); }, 10s));
    auto parts = parseMultipartBody(requestsTo("/webservices/v2/uploaddata").at(0));
    ASSERT_TRUE(parts && parts->size() == 1);
    const Value document = Value::parse(parts->at(0).body);
    ASSERT_TRUE(document.contains("ut"));
    const Value& ut = document["ut"];
    ASSERT_EQ(ut.size(), 1u) << ut.dump();
    EXPECT_EQ(ut[0]["an"], WebViewWorld::kURL);
    EXPECT_EQ(ut[0]["wb"], 1);
    ASSERT_GE(ut[0]["cor"].size(), 2u) << ut.dump();
    EXPECT_EQ(ut[0]["cor"][0][0], 100);
    EXPECT_EQ(ut[0]["cor"][0][1], 100);
    const Value& last = ut[0]["cor"][ut[0]["cor"].size() - 1];
    EXPECT_EQ(last[0], 60);
    EXPECT_EQ(last[1], 780);
    unsetenv("RIVLO_SERVICE_URL");
}

// Without the controller: both touch hooks and the gesture recorder on a verified session.
TEST(WebViewSession, APagesRecordsPlaceTheTouchInTheWebViewsCoordinates) {
    WebViewWorld world;
    RVUtil::setting()->setValidUrl("shop.example.com");
    auto* heat = RVHeatTimeHandler::sharedHandler();
    auto lastRecord = [] {
        const Value ut = RVHeatTimeHandler::sharedHandler()->timeLineList();
        if (ut.empty() || ut.back()["cor"].empty()) return Value();
        return ut.back()["cor"].back();
    };

    // The web view sits 64 points below the window's top: its hook stores (100, 100), the
    // window's sees (100, 164).
    world.tapWeb({100, 100});
    EXPECT_EQ(heat->heatMapPoint(), (Point{100, 100}));
    Value record = lastRecord();
    ASSERT_TRUE(record.is_array());
    EXPECT_EQ(record, Value::parse("[100,100,1,0,1,0,100,100]"));

    world.scrollTo({0, 700});
    world.tapWeb({60, 80});
    EXPECT_EQ(lastRecord(), Value::parse("[60,780,1,0,1,0,60,80]"));

    // The same window point again after a scroll: only the web view's hook takes it as new.
    world.scrollTo({0, 900});
    world.tapWeb({60, 80});
    EXPECT_EQ(heat->heatMapPoint(), (Point{60, 80}));
    EXPECT_EQ(lastRecord(), Value::parse("[60,980,1,0,1,0,60,80]"));

    const Value ut = heat->timeLineList();
    ASSERT_EQ(ut.size(), 1u) << ut.dump();
    EXPECT_EQ(ut[0]["wb"], 1);
    RVGestureHandler::sharedHandler()->unregisterGestures();
}
