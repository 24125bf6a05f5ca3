#include "HTTPTestSupport.h"

#include "foundation/NotificationCenter.h"
#include "http/RVAFHTTPClient.h"
#include "http/RVAFJSONRequestOperation.h"
#include "http/RVAFNetworking.h"
#include "http/RVAFStringEncoding.h"

#include <atomic>
#include <filesystem>
#include <fstream>

namespace rivlo {
namespace {

namespace fs = std::filesystem;
using test::ScriptedResponse;

// The outcome of one request as the callbacks saw it.
struct Outcome {
    bool success = false;
    bool failure = false;
    bool onMainThread = false;
    Value object;
    Error error;
    bool done() const { return success || failure; }
};

class OperationTest : public test::HTTPTest {
  protected:
    RVURLRequest request(const std::string& method, const std::string& path) {
        RVURLRequest r(URL::parse(server.baseURL() + path));
        r.HTTPMethod = method;
        return r;
    }

    // Starts an operation on a queue with callbacks that fill `out`.
    template <class Op>
    std::shared_ptr<Op> run(const RVURLRequest& req, Outcome& out) {
        auto op = std::make_shared<Op>(req);
        op->setCompletionBlockWithSuccess(
            [&out](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Value& object) {
                out.onMainThread = RunLoop::isMainThread();
                out.object = object;
                out.success = true;
            },
            [&out](const std::shared_ptr<RVAFHTTPRequestOperation>&, const Error& error) {
                out.onMainThread = RunLoop::isMainThread();
                out.error = error;
                out.failure = true;
            });
        queue_.addOperation(op);
        return op;
    }

    OperationQueue queue_;
};

TEST_F(OperationTest, SuccessArrivesOnTheMainThreadWithTheBody) {
    server.route("GET", "/data", ScriptedResponse::text(200, "hello", "text/plain"));
    Outcome out;
    auto op = run<RVAFHTTPRequestOperation>(request("GET", "/data"), out);
    ASSERT_TRUE(runUntil([&] { return out.done(); }));
    EXPECT_TRUE(out.success);
    EXPECT_TRUE(out.onMainThread);
    EXPECT_EQ(PropertyList::dataBytes(out.object), (Data{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->response()->statusCode, 200);
    EXPECT_EQ(op->responseString(), "hello");
    EXPECT_EQ(op->totalBytesRead(), 5);
}

TEST_F(OperationTest, AnOperationHoldsItselfOnlyWhileItRuns) {
    server.route("GET", "/data", ScriptedResponse::text(200, "hello", "text/plain"));
    // Started, then let go by everyone: the callbacks still arrive, and then it is freed.
    std::weak_ptr<RVAFHTTPRequestOperation> started;
    Outcome out;
    {
        OperationQueue queue;
        auto op = std::make_shared<RVAFJSONRequestOperation>(request("GET", "/data"));
        op->setCompletionBlockWithSuccess(
            [&out](const auto&, const Value&) { out.success = true; },
            [&out](const auto&, const Error&) { out.failure = true; });
        started = op;
        queue.addOperation(op);
    }
    ASSERT_TRUE(runUntil([&] { return out.done(); }));
    EXPECT_TRUE(out.failure);  // text/plain is not JSON
    ASSERT_TRUE(runUntil([&] { return started.expired(); }));

    // Given callbacks but never started: freed with them (nothing holds it but its owner).
    std::weak_ptr<RVAFHTTPRequestOperation> never;
    {
        auto op = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/data"));
        op->setCompletionBlockWithSuccess([](const auto&, const Value&) {},
                                          [](const auto&, const Error&) {});
        never = op;
    }
    EXPECT_TRUE(never.expired());
}

TEST_F(OperationTest, NoContentIsSuccessWithAnEmptyBody) {
    server.route("DELETE", "/item", ScriptedResponse::empty(204));
    Outcome out;
    run<RVAFHTTPRequestOperation>(request("DELETE", "/item"), out);
    ASSERT_TRUE(runUntil([&] { return out.done(); }));
    EXPECT_TRUE(out.success);
    EXPECT_TRUE(PropertyList::dataBytes(out.object).empty());
}

TEST_F(OperationTest, UnacceptableStatusFailsWithTheBodyAsRecoverySuggestion) {
    server.route("POST", "/missing", ScriptedResponse::json(404, R"({"error":"gone"})"));
    server.route("GET", "/broken", ScriptedResponse::text(500, "boom"));
    Outcome out404, out500;
    run<RVAFHTTPRequestOperation>(request("POST", "/missing"), out404);
    run<RVAFJSONRequestOperation>(request("GET", "/broken"), out500);
    ASSERT_TRUE(runUntil([&] { return out404.done() && out500.done(); }));

    ASSERT_TRUE(out404.failure);
    EXPECT_TRUE(out404.onMainThread);
    EXPECT_EQ(out404.error.domain, RVAFNetworkingErrorDomain);
    EXPECT_EQ(out404.error.code, -1011);
    EXPECT_EQ(out404.error.localizedDescription(), "Expected status code in (200-299), got 404");
    EXPECT_EQ(out404.error.localizedRecoverySuggestion(), R"({"error":"gone"})");
    EXPECT_EQ(PropertyList::text(out404.error.userInfo, ErrorKey::URLErrorFailingURL),
              server.baseURL() + "/missing");
    EXPECT_EQ(out404.error.keyOrder.front(), ErrorKey::LocalizedRecoverySuggestion);
    EXPECT_EQ(out404.error.keyOrder.back(), ErrorKey::LocalizedDescription);
    EXPECT_TRUE(out404.error.objects.count(RVAFNetworkingOperationFailingURLResponseErrorKey));

    ASSERT_TRUE(out500.failure);
    EXPECT_EQ(out500.error.code, -1011);
}

TEST_F(OperationTest, JSONOperationChecksContentTypeOnlyWhenThereIsABody) {
    server.route("GET", "/plain", ScriptedResponse::text(200, "not json", "text/plain"));
    server.route("GET", "/plain-empty", ScriptedResponse::text(200, "", "text/plain"));
    server.route("GET", "/html", ScriptedResponse::text(200, R"({"a":1})", "text/html"));
    Outcome plain, empty, html;
    run<RVAFJSONRequestOperation>(request("GET", "/plain"), plain);
    run<RVAFJSONRequestOperation>(request("GET", "/plain-empty"), empty);
    run<RVAFJSONRequestOperation>(request("GET", "/html"), html);
    ASSERT_TRUE(runUntil([&] { return plain.done() && empty.done() && html.done(); }));

    ASSERT_TRUE(plain.failure);
    EXPECT_EQ(plain.error.code, -1016);
    EXPECT_EQ(plain.error.localizedDescription(),
              "Expected content type {(\"application/json\", \"text/html\", \"text/javascript\", "
              "\"text/json\")}, got text/plain");
    EXPECT_TRUE(empty.success);
    EXPECT_TRUE(empty.object.is_null());
    ASSERT_TRUE(html.success);
    EXPECT_EQ(html.object, Value({{"a", 1}}));
}

TEST_F(OperationTest, JSONDecodingSingleSpaceBadJSONAndFragments) {
    server.route("GET", "/space", ScriptedResponse::json(200, " "));
    server.route("GET", "/bad", ScriptedResponse::json(200, "{nope"));
    server.route("GET", "/fragment", ScriptedResponse::json(200, "42"));
    Outcome space, bad, fragment, allowed;
    run<RVAFJSONRequestOperation>(request("GET", "/space"), space);
    auto badOp = run<RVAFJSONRequestOperation>(request("GET", "/bad"), bad);
    run<RVAFJSONRequestOperation>(request("GET", "/fragment"), fragment);
    auto allowedOp = std::make_shared<RVAFJSONRequestOperation>(request("GET", "/fragment"));
    allowedOp->setJSONReadingOptions(JSONReading::AllowFragments);
    allowedOp->setCompletionBlockWithSuccess(
        [&](const auto&, const Value& v) {
            allowed.object = v;
            allowed.success = true;
        },
        [&](const auto&, const Error& e) {
            allowed.error = e;
            allowed.failure = true;
        });
    queue_.addOperation(allowedOp);
    ASSERT_TRUE(
        runUntil([&] { return space.done() && bad.done() && fragment.done() && allowed.done(); }));

    EXPECT_TRUE(space.success);
    EXPECT_TRUE(space.object.is_null());
    ASSERT_TRUE(bad.failure);
    EXPECT_EQ(bad.error.domain, RVCocoaErrorDomain);
    EXPECT_EQ(bad.error.code, 3840);
    EXPECT_TRUE(badOp->JSONError());
    EXPECT_TRUE(fragment.failure);
    ASSERT_TRUE(allowed.success);
    EXPECT_EQ(allowed.object, 42);
}

TEST_F(OperationTest, JSONFactoryHandsRequestResponseAndObject) {
    server.route("POST", "/webservices/v2/verifyapp",
                 ScriptedResponse::json(200, R"({"status":"true","app_device_id":"7"})"));
    std::optional<Value> json;
    std::optional<long> status;
    auto op = RVAFJSONRequestOperation::JSONRequestOperationWithRequest(
        request("POST", "/webservices/v2/verifyapp"),
        [&](const RVURLRequest&, const std::optional<RVHTTPURLResponse>& response, const Value& j) {
            status = response ? response->statusCode : 0;
            json = j;
        },
        nullptr);
    queue_.addOperation(op);
    ASSERT_TRUE(runUntil([&] { return json.has_value(); }));
    EXPECT_EQ(status, 200);
    EXPECT_EQ((*json)["app_device_id"], "7");
}

TEST_F(OperationTest, CancelledOperationsCallNothing) {
    test::ScriptedResponse hold;
    hold.neverRespond = true;
    server.route("GET", "/hold", hold);
    Outcome running, early;
    auto op = run<RVAFHTTPRequestOperation>(request("GET", "/hold"), running);
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(10)));
    op->cancel();
    op->cancel();  // twice: the same as once

    OperationQueue suspended;
    suspended.setSuspended(true);
    auto never = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/hold"));
    never->setCompletionBlockWithSuccess([&](const auto&, const Value&) { early.success = true; },
                                         [&](const auto&, const Error&) { early.failure = true; });
    suspended.addOperation(never);
    never->cancel();
    suspended.setSuspended(false);

    ASSERT_TRUE(runUntil([&] { return op->isFinished() && never->isFinished(); }));
    runFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(running.done());
    EXPECT_FALSE(early.done());
    ASSERT_TRUE(op->RVAFURLConnectionOperation::error());
    EXPECT_EQ(op->RVAFURLConnectionOperation::error()->domain, URLErrorDomain);
    EXPECT_EQ(op->RVAFURLConnectionOperation::error()->code, -999);
    EXPECT_EQ(PropertyList::text(op->RVAFURLConnectionOperation::error()->userInfo,
                                 ErrorKey::URLErrorFailingURL),
              server.baseURL() + "/hold");
    EXPECT_FALSE(never->error());  // cancelled before it started: finished without an error
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(OperationTest, TransportFailuresReachTheFailureCallback) {
    test::ScriptedResponse hold;
    hold.neverRespond = true;
    server.route("GET", "/slow-forever", hold);
    test::ScriptedResponse drop;
    drop.dropConnection = true;
    server.route("GET", "/drop", drop);

    RVURLRequest timeoutRequest = request("GET", "/slow-forever");
    timeoutRequest.timeoutInterval = 1;
    Outcome timedOut, dropped, refused;
    run<RVAFHTTPRequestOperation>(timeoutRequest, timedOut);
    run<RVAFHTTPRequestOperation>(request("GET", "/drop"), dropped);
    RVURLRequest closedPort(URL::parse("http://127.0.0.1:1/x"));
    run<RVAFHTTPRequestOperation>(closedPort, refused);
    ASSERT_TRUE(runUntil([&] { return timedOut.done() && dropped.done() && refused.done(); },
                         std::chrono::seconds(20)));
    ASSERT_TRUE(timedOut.failure);
    EXPECT_EQ(timedOut.error.code, -1001);
    ASSERT_TRUE(dropped.failure);
    EXPECT_EQ(dropped.error.code, -1005);
    ASSERT_TRUE(refused.failure);
    EXPECT_EQ(refused.error.code, -1004);
    EXPECT_EQ(refused.error.domain, URLErrorDomain);
}

TEST_F(OperationTest, SlowServerStillGetsTheWholeBody) {
    ScriptedResponse slow = ScriptedResponse::empty(200);
    slow.delay = std::chrono::milliseconds(300);
    slow.readPausePerChunk = std::chrono::milliseconds(20);
    server.route("PUT", "/slow", slow);
    RVURLRequest req = request("PUT", "/slow");
    std::string body(300000, 'z');
    req.setHTTPBody(body);
    std::atomic<uint64_t> progressBytes{0};
    Outcome out;
    auto op = std::make_shared<RVAFHTTPRequestOperation>(req);
    op->setUploadProgressBlock([&](uint64_t bytes, int64_t total, int64_t expected) {
        EXPECT_TRUE(RunLoop::isMainThread());
        EXPECT_EQ(expected, 300000);
        progressBytes += bytes;
    });
    op->setCompletionBlockWithSuccess([&](const auto&, const Value&) { out.success = true; },
                                      [&](const auto&, const Error& e) {
                                          out.error = e;
                                          out.failure = true;
                                      });
    queue_.addOperation(op);
    ASSERT_TRUE(runUntil([&] { return out.done(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(out.success) << out.error.description();
    runUntil([&] { return progressBytes == 300000; }, std::chrono::seconds(2));
    EXPECT_EQ(progressBytes, 300000u);
    EXPECT_EQ(server.requests().at(0).body, body);
}

TEST_F(OperationTest, StartAndFinishAreAnnounced) {
    server.route("GET", "/n", ScriptedResponse::text(200, "x"));
    std::atomic<int> started{0}, finished{0};
    auto op = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/n"));
    auto& center = NotificationCenter::defaultCenter();
    const auto t1 = center.addObserver(RVAFNetworkingOperationDidStartNotification, op.get(),
                                       [&](const Notification&) { ++started; });
    const auto t2 = center.addObserver(RVAFNetworkingOperationDidFinishNotification, op.get(),
                                       [&](const Notification&) { ++finished; });
    queue_.addOperation(op);
    ASSERT_TRUE(runUntil([&] { return op->isFinished(); }));
    center.removeObserver(t1);
    center.removeObserver(t2);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(finished, 1);
}

TEST_F(OperationTest, StateChangesFollowTheTransitionTable) {
    auto op = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/none"));
    EXPECT_EQ(op->state(), RVAFURLConnectionOperation::State::Ready);
    EXPECT_NE(op->description().find("state: isReady, cancelled: NO"), std::string::npos);
    op->pause();
    EXPECT_TRUE(op->isPaused());
    EXPECT_FALSE(op->isReady());
    // Archiving records a paused operation as ready.
    EXPECT_EQ(op->archive()["state"], 1);
    server.route("GET", "/none", ScriptedResponse::text(200, "ok"));
    op->resume();
    ASSERT_TRUE(runUntil([&] { return op->isFinished(); }));
    op->pause();  // finished is terminal
    op->resume();
    op->cancel();
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isCancelled());
    EXPECT_EQ(op->responseString(), "ok");
}

TEST_F(OperationTest, ResponseTextEncodings) {
    server.route("GET", "/latin", ScriptedResponse::text(200, "caf\xE9", "text/html"));
    server.route("GET", "/utf8", ScriptedResponse::text(200, "caf\xC3\xA9", "application/x-y"));
    server.route("GET", "/named",
                 ScriptedResponse::text(200, "caf\xE9", "application/x-y; charset=ISO-8859-1"));
    auto latin = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/latin"));
    auto utf8 = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/utf8"));
    auto named = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/named"));
    queue_.addOperations({latin, utf8, named}, false);
    ASSERT_TRUE(
        runUntil([&] { return latin->isFinished() && utf8->isFinished() && named->isFinished(); }));
    EXPECT_EQ(latin->responseString(), "caf\xC3\xA9");
    EXPECT_EQ(utf8->responseStringEncoding(), StringEncoding::UTF8);
    EXPECT_EQ(utf8->responseString(), "caf\xC3\xA9");
    EXPECT_EQ(named->responseStringEncoding(), StringEncoding::ISOLatin1);
    EXPECT_EQ(named->responseString(), "caf\xC3\xA9");
}

TEST_F(OperationTest, PartialContentRangeSetsOffsetAndTotal) {
    ScriptedResponse partial = ScriptedResponse::text(206, std::string(100, 'p'), "text/plain");
    partial.headers.emplace_back("Content-Range", "bytes 100-199/1000");
    ScriptedResponse unknown = partial;
    unknown.headers.back().second = "bytes 100-199/*";
    server.route("GET", "/partial", partial);
    server.route("GET", "/unknown", unknown);
    auto a = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/partial"));
    auto b = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/unknown"));
    queue_.addOperations({a, b}, false);
    ASSERT_TRUE(runUntil([&] { return a->isFinished() && b->isFinished(); }));
    EXPECT_EQ(a->offsetContentLength(), 100);
    EXPECT_EQ(a->totalContentLength(), 1000);
    EXPECT_EQ(b->offsetContentLength(), 100);
    EXPECT_EQ(b->totalContentLength(), -1);
    EXPECT_FALSE(a->error());
}

TEST_F(OperationTest, StatusCodeRunsAndContentTypeHeaders) {
    EXPECT_EQ(RVAFHTTPRequestOperation::describeStatusCodes({200, 201, 202, 204}), "200-202,204");
    EXPECT_EQ(RVAFHTTPRequestOperation::describeStatusCodes({404}), "404");
    EXPECT_EQ(RVAFContentTypesFromHTTPHeader(std::string("text/html; q=0.9, application/json ,,")),
              (std::set<std::string>{"text/html", "application/json"}));
    EXPECT_FALSE(RVAFContentTypesFromHTTPHeader(std::nullopt));
    RVURLRequest json = request("GET", "/x.json");
    RVURLRequest accepts = request("GET", "/x");
    accepts.setValue("text/json, */*", "Accept");
    EXPECT_TRUE(RVAFJSONRequestOperation::canProcessRequest(json));
    EXPECT_TRUE(RVAFJSONRequestOperation::canProcessRequest(accepts));
    EXPECT_FALSE(RVAFJSONRequestOperation::canProcessRequest(request("GET", "/x")));
    EXPECT_TRUE(RVAFHTTPRequestOperation::canProcessRequest(request("GET", "/x")));
}

TEST_F(OperationTest, ArchivedOperationKeepsItsResults) {
    server.route("GET", "/a", ScriptedResponse::text(200, "body"));
    auto op = std::make_shared<RVAFHTTPRequestOperation>(request("GET", "/a"));
    queue_.addOperation(op);
    ASSERT_TRUE(runUntil([&] { return op->isFinished(); }));
    const Value archive = op->archive();
    auto restored = RVAFURLConnectionOperation::fromArchive<RVAFHTTPRequestOperation>(archive);
    EXPECT_TRUE(restored->isFinished());
    EXPECT_EQ(restored->responseData(), "body");
    EXPECT_EQ(restored->response()->statusCode, 200);
    EXPECT_EQ(restored->totalBytesRead(), 4);
    EXPECT_EQ(restored->request().absoluteURLString(), server.baseURL() + "/a");
    auto copy = op->copy();
    EXPECT_TRUE(copy->isReady());
    EXPECT_FALSE(copy->responseData());
    EXPECT_EQ(copy->className(), "RVAFHTTPRequestOperation");
}

}  // namespace
}  // namespace rivlo
