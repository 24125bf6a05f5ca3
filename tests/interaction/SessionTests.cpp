// One whole session on the headless device against a loopback service: verification, screens
// named by their controllers, real taps, stop and post; the uploaded session document carries
// the timeline. A process runs one such session (the controller lives for the process).

#include "InteractionWorld.h"

#include "core/RVFacade.h"
#include "core/RivloHandler.h"
#include "platform/ViewController.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <utility>

using namespace rivlo;
using namespace rivlo::test;
using namespace std::chrono_literals;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerInteraction(), rivlo::test::registerScreenRecorder(),
                          rivlo::test::registerTimeline(), true);

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
    RVFacade::startApplicationWithKey(" key ");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 10s));

    auto home = std::make_shared<Screen>("HomeViewController");
    world.window()->setRootViewController(home);
    world.platform().tap({10, 20});
    world.platform().doubleTap({30, 40});
    ASSERT_TRUE(RVGestureHandler::sharedHandler()->gestureRecognizersRegistered());

    RVFacade::stopApplicationAndUploadData();
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

TEST(InteractionSession, TapsWhileARestartedSessionAwaitsItsVerificationAreNotRecorded) {
    InteractionWorld world;
    RVUtil::isInfoPostSuccess(false);  // the controller sets it when the service says yes
    LoopbackHTTPServer server;
    const auto verified = ScriptedResponse::json(200, R"({"verify_status":true,
        "app_device_id":"apd-1","latest_run":1,"video_record":false,"settings":{}})");
    // The first verification answers at once; the restart's is held until released.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool releasedOnce = false;
    auto releaseAnswer = [&] {
        if (!std::exchange(releasedOnce, true)) release.set_value();
    };
    std::atomic<int> verifications{0};
    server.route("POST", "/webservices/v2/verifyapp", [&, released](const RecordedRequest&) {
        if (++verifications > 1) released.wait();
        return verified;
    });
    server.route("POST", "/webservices/v2/uploaddata",
                 ScriptedResponse::json(200, R"({"status":"true"})"));
    // However the test ends, the held answer is released before the server stops.
    struct Release {
        std::function<void()> fn;
        ~Release() { fn(); }
    } releaseAtEnd{releaseAnswer};
    setenv("RIVLO_SERVICE_URL", server.baseURL().c_str(), 1);

    RVFacade::startApplicationWithKey("key");
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 10s));
    world.platform().tap({10, 20});
    RVFacade::stopApplicationAndUploadData();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return !RivloHandler::isSessionStarted(); }, 20s));
    ASSERT_TRUE(RunLoop::main().runUntil(
        [&] { return world.window()->gestureRecognizers().empty(); }, 10s));
    // Between the sessions a tap attaches the recognisers again.
    world.platform().tap({40, 50});
    ASSERT_TRUE(RVGestureHandler::sharedHandler()->gestureRecognizersRegistered());

    RVFacade::restartSession();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return verifications.load() == 2; }, 10s));
    ASSERT_FALSE(RVUtil::isInfoPostSuccess());
    EXPECT_TRUE(InteractionWorld::ut().empty());
    // Taps while the restarted session waits for its answer: nothing is recorded.
    world.platform().tap({70, 80});
    world.platform().doubleTap({90, 100});
    EXPECT_TRUE(InteractionWorld::ut().empty()) << InteractionWorld::ut().dump();

    releaseAnswer();
    ASSERT_TRUE(RunLoop::main().runUntil([] { return RVUtil::isInfoPostSuccess(); }, 10s));
    EXPECT_TRUE(InteractionWorld::ut().empty()) << InteractionWorld::ut().dump();
    // Once verified, a tap is recorded at its own point.
    world.platform().tap({110, 120});
    const Value ut = InteractionWorld::ut();
    ASSERT_EQ(ut.size(), 1u);
    ASSERT_FALSE(ut[0]["cor"].empty());
    for (const auto& record : ut[0]["cor"]) {
        EXPECT_EQ(record[6], 110);
        EXPECT_EQ(record[7], 120);
    }
    unsetenv("RIVLO_SERVICE_URL");
}
