// Verification, service-level refusals, fault injection, restarts and HTTPS of the in-process
// collector, driven with libcurl over loopback.

#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "CollectorIndex.h"
#include "CollectorReport.h"
#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

const char* const kVerify = "/webservices/v2/verifyapp";
const char* const kVideo = "/webservices/v2/uploadvideo";

TEST(CollectorVerifyTest, KnownKeyGetsSettingsAndAStableIdentifierPerDevice) {
    TempDir data;
    nlohmann::json settings = {
        {"screen_record", true}, {"screen_quality", 5}, {"url", "https://www.example.com/app"}};
    InProcessCollector collector(data.path(), [&](CollectorConfig& c) {
        c.apps[0].settings = settings;
        CollectorApp second;
        second.key = "other-key";
        second.name = "Other";
        second.videoRecord = false;
        c.apps.push_back(second);
    });
    ASSERT_TRUE(collector.start()) << collector.startError();

    HttpResult r = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-A"));
    ASSERT_EQ(r.curlCode, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.contentType.find("application/json"), std::string::npos);
    nlohmann::json answer = r.json();
    EXPECT_EQ(answer["verify_status"], true);
    EXPECT_EQ(answer["video_record"], true);
    EXPECT_EQ(answer["settings"], settings);
    EXPECT_EQ(answer["latest_run"], 0);
    std::string apd = answer["app_device_id"];
    EXPECT_FALSE(apd.empty());

    // Same device, same application: same identifier; the run count moves on.
    nlohmann::json again = collector.verify("DEVICE-A");
    EXPECT_EQ(again["app_device_id"], apd);
    EXPECT_EQ(again["latest_run"], 1);
    // Another device or another application: another identifier.
    EXPECT_NE(collector.verify("DEVICE-B")["app_device_id"], apd);
    nlohmann::json other = collector.verify("DEVICE-A", "other-key");
    EXPECT_EQ(other["verify_status"], true);
    EXPECT_EQ(other["video_record"], false);
    EXPECT_NE(other["app_device_id"], apd);
}

TEST(CollectorVerifyTest, UnknownKeyIsAnsweredWithAFalseStatus) {
    TempDir data;
    InProcessCollector collector(data.path());
    ASSERT_TRUE(collector.start());
    HttpResult r = postForm(collector.url(kVerify), verifyFields("wrong-key", "DEVICE-A"));
    EXPECT_EQ(r.status, 200);
    nlohmann::json answer = r.json();
    EXPECT_EQ(answer["verify_status"], false);
    // Every field the library reads is present, so it applies them without surprises.
    for (const char* key : {"app_device_id", "latest_run", "video_record", "settings"}) {
        EXPECT_TRUE(answer.contains(key)) << key;
    }
    EXPECT_EQ(collector.log().countContaining("unknown application key \"wrong-key\""), 1u);
}

TEST(CollectorVerifyTest, IncompleteOrMisdirectedRequestsAreRefused) {
    TempDir data;
    InProcessCollector collector(data.path());
    ASSERT_TRUE(collector.start());
    for (const char* missing :
         {"app_key", "device_id", "device_os", "device_type", "platform", "appname"}) {
        auto fields = verifyFields("test-key", "DEVICE-A");
        std::erase_if(fields, [&](const auto& f) { return f.first == missing; });
        HttpResult r = postForm(collector.url(kVerify), fields);
        EXPECT_EQ(r.status, 400) << missing;
        EXPECT_NE(r.json().value("error", "").find(missing), std::string::npos) << r.body;
    }
    HttpResult get = sendRaw("GET", collector.url(kVerify), "", "");
    EXPECT_EQ(get.status, 405);
    EXPECT_TRUE(get.json().contains("error"));
    HttpResult unknown = sendRaw("POST", collector.url("/webservices/v2/nothing"), "a=b",
                                 "application/x-www-form-urlencoded");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_TRUE(unknown.json().contains("error"));
    // Refusals created no installation.
    auto index = openIndex(data.path());
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->installations().empty());
}

TEST(CollectorFaultTest, InjectedFailuresStoreNothingAndAreLogged) {
    TempDir data, files;
    InProcessCollector collector(data.path(), [](CollectorConfig& c) {
        c.faults.failShare = 1.0;
        c.faults.seed = 7;
    });
    ASSERT_TRUE(collector.start());
    HttpResult verify = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-A"));
    EXPECT_EQ(verify.status, 500);
    std::string movie = files.file("S_1765000000.mp4");
    writeFile(movie, std::string(5000, 'm'));
    HttpResult upload = postMultipart(
        collector.url(kVideo),
        {{"app_device_id", "x"}, {"video_type", "screen"}, {"sv_duration", "1"}}, {{movie}});
    EXPECT_EQ(upload.status, 500);
    EXPECT_TRUE(listFiles(data.path() + "/apps").empty());
    EXPECT_TRUE(listFiles(data.path() + "/tmp").empty());
    EXPECT_EQ(collector.log().countContaining("injected failure"), 2u);
}

TEST(CollectorFaultTest, InjectedResetBreaksTheConnection) {
    TempDir data, files;
    InProcessCollector collector(data.path(),
                                 [](CollectorConfig& c) { c.faults.resetShare = 1.0; });
    ASSERT_TRUE(collector.start());
    HttpResult verify = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-A"));
    EXPECT_NE(verify.curlCode, 0) << "status " << verify.status << " body " << verify.body;
    std::string movie = files.file("S_1765000000.mp4");
    writeFile(movie, std::string(5000, 'm'));
    HttpResult upload = postMultipart(
        collector.url(kVideo),
        {{"app_device_id", "x"}, {"video_type", "screen"}, {"sv_duration", "1"}}, {{movie}});
    EXPECT_NE(upload.curlCode, 0);
    EXPECT_TRUE(listFiles(data.path() + "/apps").empty());
    // The client sees the reset before the request thread writes its line.
    EXPECT_TRUE(runUntil(
        [&] { return collector.log().countContaining("injected connection reset") == 2; }));
    EXPECT_EQ(collector.log().countContaining("not possible"), 0u);
}

TEST(CollectorFaultTest, MalformedVerificationAndDelayedAnswers) {
    TempDir data;
    InProcessCollector collector(data.path(), [](CollectorConfig& c) {
        c.faults.malformedVerifyShare = 1.0;
        c.faults.delayShare = 1.0;
        c.faults.delayMs = 50;
    });
    ASSERT_TRUE(collector.start());
    HttpResult r = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-A"));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.contentType.find("application/json"), std::string::npos);
    EXPECT_TRUE(r.json().is_discarded()) << r.body;
    EXPECT_EQ(collector.log().countContaining("injected malformed answer"), 1u);
}

TEST(CollectorFaultTest, AHeldBackUploadAnswerComesAfterTheFileIsStored) {
    // A client that stops waiting has lost the answer of a file the collector keeps.
    TempDir data, files;
    std::string movie = files.file("S_1765000800.mp4");
    writeFile(movie, std::string(5000, 'h'));
    std::string apd;
    {
        InProcessCollector undelayed(data.path());
        ASSERT_TRUE(undelayed.start());
        apd = undelayed.verify("DEVICE-HELD")["app_device_id"];
    }
    InProcessCollector collector(data.path(), [](CollectorConfig& c) {
        c.faults.delayShare = 1.0;
        c.faults.delayMs = 60000;  // the longest; held until the collector stops
    });
    ASSERT_TRUE(collector.start());
    std::thread client([&] {
        postMultipart(collector.url(kVideo),
                      {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "5"}},
                      {{movie}});
    });
    EXPECT_TRUE(runUntil([&] {
        return collector.log().countContaining(
                   "injected delay, the answer for S_1765000800.mp4 is held back 60000 ms") == 1;
    }));
    // Stored while the answer is still held back.
    EXPECT_EQ(collector.log().countContaining("stored S_1765000800.mp4 (5000 bytes)"), 1u);
    collector.stop();  // ends the wait
    client.join();
}

TEST(CollectorFaultTest, FaultsAreOffByDefault) {
    CollectorConfig config;
    EXPECT_FALSE(config.faults.enabled());
    TempDir data;
    InProcessCollector collector(data.path());
    ASSERT_TRUE(collector.start());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(collector.verify("DEVICE-A")["verify_status"], true);
    EXPECT_EQ(collector.log().countContaining("injected"), 0u);
}

TEST(CollectorRestartTest, ARestartedCollectorKeepsInstallationsAndUploads) {
    TempDir data, files;
    std::string movie = files.file("S_1765000700.mp4");
    writeFile(movie, std::string(7000, 'r'));
    std::string apd;
    int firstPort = 0;
    {
        InProcessCollector first(data.path());
        ASSERT_TRUE(first.start());
        firstPort = first.server().port();
        apd = first.verify("DEVICE-R")["app_device_id"];
        HttpResult r = postMultipart(
            first.url(kVideo),
            {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "7"}}, {{movie}});
        ASSERT_EQ(r.status, 200);
        first.stop();
        EXPECT_FALSE(first.server().running());
        EXPECT_NE(postForm(first.url(kVerify), verifyFields("test-key", "DEVICE-R")).curlCode, 0);
    }
    InProcessCollector second(data.path(), [&](CollectorConfig& c) { c.port = firstPort; });
    ASSERT_TRUE(second.start()) << second.startError();
    EXPECT_EQ(second.server().port(), firstPort);
    nlohmann::json answer = second.verify("DEVICE-R");
    EXPECT_EQ(answer["app_device_id"], apd);
    EXPECT_EQ(answer["latest_run"], 1);
    // The retry of an upload made before the restart is still recognised.
    HttpResult retry = postMultipart(
        second.url(kVideo),
        {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "7"}}, {{movie}});
    EXPECT_EQ(retry.json().value("status", ""), "duplicate");
    std::string report, error;
    ASSERT_TRUE(CollectorReport::build(data.path(), report, error, databaseFor(data.path())))
        << error;
    EXPECT_NE(report.find("S_1765000700.mp4: 7 s"), std::string::npos) << report;
    EXPECT_NE(report.find("verified 2 times"), std::string::npos) << report;
}

TEST(CollectorStartTest, BadConfigurationsAndBusyPortsFailToStart) {
    TempDir data;
    InProcessCollector running(data.path());
    ASSERT_TRUE(running.start());
    TempDir other;
    InProcessCollector clash(other.path(),
                             [&](CollectorConfig& c) { c.port = running.server().port(); });
    EXPECT_FALSE(clash.start());
    EXPECT_NE(clash.startError().find("cannot listen"), std::string::npos) << clash.startError();
    InProcessCollector noData("");
    EXPECT_FALSE(noData.start());
    InProcessCollector halfTls(other.path(),
                               [](CollectorConfig& c) { c.certFile = "/nonexistent.pem"; });
    EXPECT_FALSE(halfTls.start());
    InProcessCollector badTls(other.path(), [](CollectorConfig& c) {
        c.certFile = "/nonexistent.pem";
        c.keyFile = "/nonexistent.key";
    });
    EXPECT_FALSE(badTls.start());
    // The running collector is untouched by its failed neighbours.
    EXPECT_EQ(running.verify("DEVICE-A")["verify_status"], true);
}

TEST(CollectorTlsTest, ServesHttpsWithTheGivenCertificate) {
    TempDir dir;
    std::string cert = dir.file("cert.pem"), key = dir.file("key.pem");
    std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
        "-addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
        key + "' -out '" + cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a test certificate";
    TempDir data;
    InProcessCollector collector(data.path(), [&](CollectorConfig& c) {
        c.certFile = cert;
        c.keyFile = key;
    });
    ASSERT_TRUE(collector.start()) << collector.startError();
    EXPECT_EQ(collector.server().url().rfind("https://127.0.0.1:", 0), 0u);
    HttpResult ok = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-T"), cert);
    EXPECT_EQ(ok.curlCode, 0);
    EXPECT_EQ(ok.json()["verify_status"], true);
    // Without trusting the certificate the client refuses the connection.
    HttpResult untrusted = postForm(collector.url(kVerify), verifyFields("test-key", "DEVICE-T"));
    EXPECT_NE(untrusted.curlCode, 0);
}

}  // namespace
}  // namespace rivlo::collector::test

namespace rivlo::collector::test {
namespace {

TEST(CollectorStartTest, StartsAndStopsAtOnceWithoutHanging) {
    TempDir data;
    for (int i = 0; i < 10; ++i) {
        InProcessCollector collector(data.path());
        ASSERT_TRUE(collector.start()) << collector.startError();
        EXPECT_GT(collector.server().port(), 0);
        collector.stop();
        collector.stop();  // a second stop does nothing
        EXPECT_FALSE(collector.server().running());
    }
    InProcessCollector neverStarted(data.path());
    neverStarted.stop();
    EXPECT_EQ(neverStarted.server().port(), 0);
}

}  // namespace
}  // namespace rivlo::collector::test
