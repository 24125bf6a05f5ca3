// One whole session on the headless device against a loopback service: verification, screens
// named by their controllers, real taps, stop and post; the uploaded session document carries
// the timeline. A process runs one such session (the controller lives for the process).

#include "InteractionWorld.h"

#include "core/RivloHandler.h"
#include "platform/ViewController.h"
#include "rivlo/Rivlo.h"
#include "support/LoopbackHTTPServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {
class Screen : public ViewController {
  public:
    explicit Screen(const std::string& name)
        : ViewController(ObjClass::define(name, ViewController::classObject())) {}
};
}  // namespace

TEST(InteractionSession, TouchesOfAVerifiedSessionReachTheUploadedDocument) {
    InteractionWorld world;
    RVUtil::isInfoPostSuccess(false);  // the controller sets it when the service says yes
    LoopbackHTTPServer server;
    server.route("POST", "/webservices/v2/verifyapp",
                 ScriptedResponse::json(200, R"({"verify_status":true,"app_device_id":"apd-1",
                     "latest_run":1,"video_record":false,"settings":{}})"));
    server.route("POST", "/webservices/v2/uploaddata",
                 ScriptedResponse::json(200, R"({"status":"true"})"));
    setenv("RIVLO_SERVICE_URL", server.baseURL().c_str(), 1);

    // Before verification, touches are not recorded.
    world.platform().tap({5, 5});
    Rivlo::startApplicationWithKey(" key ");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 10s));

    auto home = std::make_shared<Screen>("HomeViewController");
    world.window()->setRootViewController(home);
    world.platform().tap({10, 20});
    world.platform().doubleTap({30, 40});
    ASSERT_TRUE(RVGestureHandler::sharedHandler()->gestureRecognizersRegistered());

    Rivlo::stopApplicationAndUploadData();
    auto uploads = [&] {
        size_t n = 0;
        for (const auto& r : server.requests())
            n += r.path == "/webservices/v2/uploaddata";
        return n;
    };
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return uploads() >= 1; }, 20s));
    // The recognisers were taken off the window by the stop.
    EXPECT_TRUE(world.window()->gestureRecognizers().empty());

    Value document;
    for (const auto& r : server.requests()) {
        if (r.path != "/webservices/v2/uploaddata") continue;
        auto parts = parseMultipartBody(r);
        ASSERT_TRUE(parts && parts->size() == 1);
        document = Value::parse(parts->at(0).body);
    }
    ASSERT_TRUE(document.contains("ut"));
    const Value& ut = document["ut"];
    ASSERT_EQ(ut.size(), 1u);
    EXPECT_EQ(ut[0]["an"], "HomeViewController");
    EXPECT_EQ(ut[0]["wb"], 0);
    std::vector<int> codes;
    for (const auto& record : ut[0]["cor"]) {
        codes.push_back(record[3].get<int>());
        EXPECT_EQ(record[0], record[6]);
        EXPECT_EQ(record[1], record[7]);
    }
    ASSERT_EQ(codes.size(), 4u);
    EXPECT_EQ(ut[0]["cor"][0][0], 10);
    EXPECT_EQ(ut[0]["cor"][3][0], 30);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 1), 1);
    unsetenv("RIVLO_SERVICE_URL");
}
