#include "HTTPTestSupport.h"

#include "http/RVAFHTTPClient.h"

#include <cstdlib>
#include <filesystem>

namespace rivlo {
namespace {

namespace fs = std::filesystem;
using test::ScriptedResponse;

class TLSTest : public test::HTTPTest {};

// Certificate verification stays on; RIVLO_CA_FILE adds a trusted bundle.
TEST_F(TLSTest, VerificationStaysOnAndTheExtraBundleIsTrusted) {
    const fs::path dir = fs::temp_directory_path() / ("rivlo-tls-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const test::TLSFiles tls = test::writeSelfSignedLoopbackCertificate(dir.string());
    test::LoopbackHTTPServer secure(tls);
    secure.route("POST", "/webservices/v2/verifyapp", ScriptedResponse::json(200, R"({"ok":1})"));
    auto client = RVAFHTTPClient::clientWithBaseURL(*URL::parse(secure.baseURL()));

    auto send = [&](std::optional<Error>& error) {
        bool done = false;
        auto op = client->HTTPRequestOperationWithRequest(
            client->requestWithMethod("POST", "/webservices/v2/verifyapp", Value{{"a", 1}}),
            [&](const auto&, const Value&) { done = true; },
            [&](const auto&, const Error& e) {
                error = e;
                done = true;
            });
        client->enqueueHTTPRequestOperation(op);
        return runUntil([&] { return done; });
    };

    ::unsetenv("RIVLO_CA_FILE");
    std::optional<Error> untrusted;
    ASSERT_TRUE(send(untrusted));
    ASSERT_TRUE(untrusted);
    EXPECT_EQ(untrusted->domain, URLErrorDomain);
    EXPECT_EQ(untrusted->code, -1200);
    EXPECT_EQ(secure.requestCount(), 0u);

    ::setenv("RIVLO_CA_FILE", tls.certificateFile.c_str(), 1);
    std::optional<Error> trusted;
    ASSERT_TRUE(send(trusted));
    ::unsetenv("RIVLO_CA_FILE");
    EXPECT_FALSE(trusted) << trusted->description();
    ASSERT_EQ(secure.requestCount(), 1u);
    EXPECT_EQ(secure.requests()[0].body, "a=1");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace rivlo
