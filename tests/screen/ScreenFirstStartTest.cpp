// The library's first start in a process: a view the host marked sensitive before it is painted
// over in the movie that reaches the service. The controller lives for the process, so this
// story has a binary of its own.

#include "core/RivloHandler.h"
#include "core/RVFacade.h"
#include "core/RivloViews.h"
#include "screen/MovieProbe.h"
#include "screen/ScreenRecorderFixture.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Registrations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

using namespace rivlo;
using rivlo::test::LoopbackHTTPServer;
using rivlo::test::MovieProbe;
using rivlo::test::ScreenRecorderWorld;
using rivlo::test::ScriptedResponse;

namespace {

// The hooks and session steps the library's start registers, for the recorders this suite
// links.
const bool kRegistered = (rivlo::test::registerScreenRecorder(), true);

constexpr const char* kUploadPath = "/webservices/v2/uploadvideo";

bool isRed(const rivlo::test::DecodedFrame::RGB& c) {
    return c.r > 200 && c.g < 60 && c.b < 60;
}

}  // namespace

TEST(ScreenFirstStart, ViewMarkedBeforeTheFirstStartStaysMasked) {
    LoopbackHTTPServer service;
    service.route("POST", "/webservices/v2/verifyapp",
                  ScriptedResponse::json(
                      200, R"({"verify_status":true,"app_device_id":"APD-1","latest_run":1,)"
                           R"("video_record":true,"settings":{"screen_record":true,)"
                           R"("screen_quality":2,"wifi_status":true}})"));
    service.route("POST", kUploadPath, ScriptedResponse::json(200, R"({"status":"true"})"));
    service.route("POST", "/webservices/v2/uploaddata", ScriptedResponse::text(200, "ok"));
    ::setenv("RIVLO_SERVICE_URL", service.baseURL().c_str(), 1);

    ScreenRecorderWorld world(320, 568);
    auto card = world.addView(Rect(20, 100, 120, 60), Color::rgb(0, 255, 0));
    ASSERT_EQ(RivloHandler::rivlo(), nullptr);
    RivloViews::occludeSensitiveView(card);  // the host marks it while building its screen

    RVFacade::startApplicationWithKey("first-start-key");
    ASSERT_TRUE(RunLoop::main().runUntil(
        [] { return RVViewVideoHandler::sharedHandler()->isRecording(); }, 20));
    RunLoop::main().runUntil([] { return false; }, 2.5);

    std::atomic<bool> stopped{false};
    std::thread stop([&] {
        RivloHandler::stopAndPostData();
        stopped = true;
    });
    auto uploaded = [&] {
        for (const auto& r : service.requests())
            if (r.path == kUploadPath) return true;
        return false;
    };
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return stopped.load() && uploaded(); }, 60));
    stop.join();

    std::string body;
    for (const auto& r : service.requests()) {
        if (r.path != kUploadPath) continue;
        auto parts = rivlo::test::parseMultipartBody(r);
        ASSERT_TRUE(parts.has_value());
        body = parts->back().body;
    }
    const std::string received = world.directory() + "/received.mov";
    std::ofstream(received, std::ios::binary) << body;
    const MovieProbe movie = MovieProbe::open(received);
    ASSERT_TRUE(movie.opened);
    ASSERT_GE(movie.frames.size(), 1u);
    for (const auto& frame : movie.frames) {
        size_t shown = 0;
        for (int y = 100; y < 160; ++y)
            for (int x = 20; x < 140; ++x)
                shown += !isRed(frame.at(x, y));
        EXPECT_EQ(shown, 0u) << "card pixels in the clear at " << frame.seconds << " s";
    }
}
