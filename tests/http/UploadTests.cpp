#include "HTTPTestSupport.h"

#include "http/RVAFHTTPClient.h"
#include "http/RVAFNetworking.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace rivlo {
namespace {

namespace fs = std::filesystem;
using test::ScriptedResponse;

const std::string kBoundary = "Boundary+0xAbCdEfGbOuNdArY";

class UploadTest : public test::HTTPTest {
  protected:
    void SetUp() override {
        HTTPTest::SetUp();
        dir_ = fs::temp_directory_path() /
               ("rivlo-upload-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        client_ = RVAFHTTPClient::clientWithBaseURL(*URL::parse(server.baseURL()));
    }
    void TearDown() override {
        client_.reset();
        fs::remove_all(dir_);
        HTTPTest::TearDown();
    }

    std::string writeFile(const std::string& name, size_t size) {
        std::mt19937 rng(7);
        std::string bytes(size, '\0');
        for (auto& c : bytes)
            c = static_cast<char>(rng() & 0xFF);
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Sends the request through the client's queue; true on success.
    std::optional<bool> send(const RVURLRequest& request, Error* errorOut = nullptr) {
        std::optional<bool> result;
        auto op = client_->HTTPRequestOperationWithRequest(
            request, [&](const auto&, const Value&) { result = true; },
            [&](const auto&, const Error& e) {
                if (errorOut) *errorOut = e;
                result = false;
            });
        client_->enqueueHTTPRequestOperation(op);
        runUntil([&] { return result.has_value(); }, std::chrono::seconds(60));
        return result;
    }

    RVURLRequest uploadRequest(const std::string& path, const std::string& filePath) {
        return client_->multipartFormRequestWithMethod(
            "POST", path, Value{{"app_key", "k 1"}, {"device_id", "ABC"}},
            [&](RVAFStreamingMultipartFormData& form) {
                ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(filePath), "file"));
            });
    }

    fs::path dir_;
    std::shared_ptr<RVAFHTTPClient> client_;
};

TEST_F(UploadTest, MultipartUploadArrivesByteForByteWithItsDeclaredLength) {
    server.route("POST", "/webservices/v2/uploadvideo", ScriptedResponse::json(200, "{}"));
    const std::string file = writeFile("screen.mp4", 3 * 1024 * 1024 + 17);
    const RVURLRequest request = uploadRequest("/webservices/v2/uploadvideo", file);
    request.HTTPBodyStream->rewind();  // read once here to know the exact bytes
    std::string expected;
    {
        std::vector<uint8_t> buffer(65536);
        int64_t n;
        while ((n = request.HTTPBodyStream->read(buffer.data(), buffer.size())) > 0) {
            expected.append(reinterpret_cast<char*>(buffer.data()), static_cast<size_t>(n));
        }
        ASSERT_TRUE(request.HTTPBodyStream->rewind());
    }

    ASSERT_EQ(send(request), true);
    const auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.header("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
    EXPECT_EQ(recorded.header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(recorded.body.size(), expected.size());
    EXPECT_TRUE(recorded.body == expected);
    const auto parts = test::parseMultipartBody(recorded);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 3u);
    EXPECT_EQ((*parts)[0].name, "app_key");
    EXPECT_EQ((*parts)[0].body, "k 1");  // form fields are not percent-escaped
    EXPECT_EQ((*parts)[1].name, "device_id");
    EXPECT_EQ((*parts)[2].name, "file");
    EXPECT_EQ((*parts)[2].fileName, "screen.mp4");
    EXPECT_EQ((*parts)[2].contentType, "video/mp4");
    EXPECT_TRUE((*parts)[2].body == readFile(file));
}

TEST_F(UploadTest, FileChangedBeforeSendingFailsTheRequestInsteadOfSendingAWrongBody) {
    server.route("POST", "/webservices/v2/uploaddata", ScriptedResponse::json(200, "{}"));
    const std::string file = writeFile("data.txt", 200000);
    const RVURLRequest request = uploadRequest("/webservices/v2/uploaddata", file);
    fs::resize_file(file, 1000);
    Error error;
    ASSERT_EQ(send(request, &error), false);
    EXPECT_EQ(error.domain, URLErrorDomain);
    EXPECT_EQ(error.code, RVAFURLErrorRequestBodyStreamExhausted);
    // The service never saw a complete request with this body.
    for (const auto& recorded : server.requests()) {
        EXPECT_LT(recorded.body.size(), 200000u);
    }
    EXPECT_TRUE(fs::exists(file));  // nothing removed: the upload stays pending
}

TEST_F(UploadTest, RedirectThatKeepsTheMethodSendsTheWholeBodyAgain) {
    server.route("POST", "/old", ScriptedResponse::redirect(307, "/new"));
    server.route("POST", "/new", ScriptedResponse::json(200, "{}"));
    const std::string file = writeFile("x.jpeg", 100000);
    const RVURLRequest request = uploadRequest("/old", file);
    ASSERT_EQ(send(request), true);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/new");
    EXPECT_EQ(requests[1].body.size(), std::stoull(requests[1].header("Content-Length")));
    const auto parts = test::parseMultipartBody(requests[1]);
    ASSERT_TRUE(parts);
    EXPECT_TRUE(parts->back().body == readFile(file));
    EXPECT_EQ(parts->back().contentType, "image/jpeg");
}

TEST_F(UploadTest, CredentialsInTheURLAnswerTheChallengeWithTheWholeBody) {
    server.route("POST", "/secure", [](const test::RecordedRequest& r) {
        if (r.header("Authorization") != "Basic dXNlcjpwdw==") {
            ScriptedResponse challenge = ScriptedResponse::text(401, "who?");
            challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"r\"");
            return challenge;
        }
        return ScriptedResponse::json(200, "{}");
    });
    auto authed = RVAFHTTPClient::clientWithBaseURL(
        *URL::parse("http://user:pw@127.0.0.1:" + std::to_string(server.port())));
    client_ = authed;
    const std::string file = writeFile("a.txt", 50000);
    const RVURLRequest request = uploadRequest("/secure", file);
    ASSERT_EQ(send(request), true);
    const auto last = server.requests().back();
    EXPECT_EQ(last.header("Authorization"), "Basic dXNlcjpwdw==");
    const auto parts = test::parseMultipartBody(last);
    ASSERT_TRUE(parts);
    EXPECT_TRUE(parts->back().body == readFile(file));
}

TEST_F(UploadTest, RedirectCallbackDecidesEachRedirect) {
    server.route("GET", "/from", ScriptedResponse::redirect(302, "/to"));
    server.route("GET", "/to", ScriptedResponse::text(200, "arrived"));
    for (const bool follow : {true, false}) {
        server.clearRequests();
        auto op =
            std::make_shared<RVAFHTTPRequestOperation>(client_->requestWithMethod("GET", "/from"));
        std::vector<std::string> seen;
        op->setRedirectResponseBlock(
            [&, follow](const RVURLRequest& next,
                        const std::optional<RVHTTPURLResponse>& r) -> std::optional<RVURLRequest> {
                seen.push_back(next.absoluteURLString() + " " +
                               std::to_string(r ? r->statusCode : 0));
                if (!follow) return std::nullopt;
                return next;
            });
        client_->enqueueHTTPRequestOperation(op);
        ASSERT_TRUE(runUntil([&] { return op->isFinished(); }));
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0], server.baseURL() + "/to 302");
        EXPECT_EQ(op->response()->statusCode, follow ? 200 : 302);
        EXPECT_EQ(server.requestCount(), follow ? 2u : 1u);
    }
}

}  // namespace
}  // namespace rivlo
