// The rivlo-collector executable: a 200 MiB movie goes through with the collector's memory
// staying flat, the served data survive a process restart, and `report` lists them.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "CollectorTestSupport.h"

namespace rivlo::collector::test {
namespace {

const char* const kVerify = "/webservices/v2/verifyapp";
const char* const kVideo = "/webservices/v2/uploadvideo";
const char* const kData = "/webservices/v2/uploaddata";

TEST(CollectorProcessTest, LargeMovieIsStreamedToDiskWithFlatMemory) {
    TempDir data, files;
    CollectorProcess process;
    std::vector<std::string> arguments = {"--data",           data.path(),
                                          "--app-key",        "big-key",
                                          "--max-body-bytes", std::to_string(512ull << 20)};
    for (const std::string& a : databaseArguments(data.path()))
        arguments.push_back(a);
    ASSERT_TRUE(process.start(arguments, files.file("url")));
    std::string apd = postForm(process.url() + kVerify, verifyFields("big-key", "DEVICE-BIG"))
                          .json()["app_device_id"];
    long before = process.peakResidentKiB();
    ASSERT_GT(before, 0);

    // A sparse 200 MiB file with a marked head and tail: cheap to make, and read by libcurl in
    // small pieces while it sends.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr off_t kSize = 32ll << 20;  // the sanitizers slow every byte down
#else
    constexpr off_t kSize = 200ll << 20;
#endif
    std::string movie = files.file("S_1765100000.mp4");
    int fd = ::open(movie.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kSize), 0);
    ASSERT_EQ(::pwrite(fd, "HEAD", 4, 0), 4);
    ASSERT_EQ(::pwrite(fd, "TAIL", 4, kSize - 4), 4);
    ::close(fd);

    HttpResult r = postMultipart(
        process.url() + kVideo,
        {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "600"}}, {{movie}});
    ASSERT_EQ(r.curlCode, 0);
    ASSERT_EQ(r.status, 200) << r.body;

    // A collector that held the body in memory would have grown by at least 200 MiB. (Under
    // AddressSanitizer freed memory waits in its quarantine, so the figure means nothing there.)
#if !defined(__SANITIZE_ADDRESS__)
    long peak = process.peakResidentKiB();
    EXPECT_LT(peak - before, 32 * 1024) << "peak " << peak << " KiB, before " << before << " KiB";
#endif

    std::vector<std::string> stored = listFiles(data.path() + "/apps");
    ASSERT_EQ(stored.size(), 1u);
    std::string path = data.path() + "/apps/" + stored[0];
    fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char head[4], tail[4];
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), kSize);
    EXPECT_EQ(::pread(fd, head, 4, 0), 4);
    EXPECT_EQ(::pread(fd, tail, 4, kSize - 4), 4);
    ::close(fd);
    EXPECT_EQ(std::string(head, 4), "HEAD");
    EXPECT_EQ(std::string(tail, 4), "TAIL");
    EXPECT_EQ(process.stop(), 0);
}

TEST(CollectorProcessTest, DataSurviveARestartAndReportListsSessions) {
    TempDir data, files;
    std::string apd;
    {
        CollectorProcess process;
        std::vector<std::string> arguments = {
            "--data",     data.path(),
            "--app-key",  "demo-key",
            "--app-name", "Demo Shop",
            "--settings", R"({"screen_record":true,"screen_quality":1})"};
        for (const std::string& a : databaseArguments(data.path()))
            arguments.push_back(a);
        ASSERT_TRUE(process.start(arguments, files.file("url1")));
        HttpResult v = postForm(process.url() + kVerify, verifyFields("demo-key", "DEVICE-P"));
        EXPECT_EQ(v.json()["settings"]["screen_quality"], 1);
        apd = v.json()["app_device_id"];
        // Session stamps: document at 1765200100 after 40 s; its movie named 2 s later.
        std::string movie = files.file("DEVICE-P_1765200102.mp4");
        writeFile(movie, std::string(2048, 'v'));
        ASSERT_EQ(
            postMultipart(process.url() + kVideo,
                          {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "39"}},
                          {{movie}})
                .status,
            200);
        EXPECT_EQ(process.stop(), 0);
    }
    CollectorProcess restarted;
    std::vector<std::string> again = {"--data",   data.path(),  "--app-key",
                                      "demo-key", "--app-name", "Demo Shop"};
    for (const std::string& a : databaseArguments(data.path()))
        again.push_back(a);
    ASSERT_TRUE(restarted.start(again, files.file("url2")));
    nlohmann::json document = {
        {"apd", apd},
        {"dr", "1"},
        {"dan", "alice"},
        {"tt", "40"},
        {"cr", true},
        {"isF", 1},
        {"lc", {{"lt", 51.5}, {"lg", -0.12}}},
        {"ut",
         {{{"an", "Home"},
           {"at", "0"},
           {"cor",
            {{1, 2, 1, 0, 1, 3, 1, 2},
             {5, 6, 1, 4, 1, 4, 5, 6},
             {-999, -999, 0, 10, 1, 5, -999, -999}}},
           {"wb", 0}},
          {{"an", "Cart"}, {"at", "9"}, {"cor", {{1, 2, 1, 1, 1, 10, 1, 2}}}, {"wb", 1}}}},
        {"gy", nlohmann::json::array()},
        {"tags", {{{"tag", "checkout"}, {"time", 3.25}}}},
        {"rvsdk", "1.0.9"}};
    std::string doc = files.file("1765200100.txt");
    writeFile(doc, document.dump(2));
    ASSERT_EQ(postMultipart(restarted.url() + kData, {}, {{doc}}).status, 200);
    EXPECT_EQ(postForm(restarted.url() + kVerify, verifyFields("demo-key", "DEVICE-P"))
                  .json()["latest_run"],
              1);

    // The report reads the folder while the collector still runs.
    std::vector<std::string> reportArguments = {"report", "--data", data.path()};
    for (const std::string& a : databaseArguments(data.path()))
        reportArguments.push_back(a);
    auto [status, report] = runCollectorCommand(reportArguments);
    EXPECT_EQ(status, 0) << report;
    for (const char* expected :
         {"Application \"Demo Shop\"", "device DEVICE-P", "verified 2 times",
          "Session run 1 (document 1765200100.txt", "40 s, crash: yes, favourite: yes",
          "user \"alice\"",
          "\"Home\" at 0 s: 2 gestures (1 single tap, 1 swipe left), 1 orientation change",
          "\"Cart\" (web page) at 9 s: 1 gesture (1 double tap)", "tags: \"checkout\" at 3.2 s",
          "screen movie DEVICE-P_1765200102.mp4: 39 s, 2.0 KiB", "location 51.5, -0.12"}) {
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
    }
    EXPECT_EQ(report.find("Not matched"), std::string::npos) << report;
    EXPECT_EQ(restarted.stop(), 0);
}

TEST(CollectorProcessTest, CommandLineMistakesAreExplained) {
    TempDir data;
    auto [noCommand, usage] = runCollectorCommand({});
    EXPECT_EQ(noCommand, 2);
    EXPECT_NE(usage.find("usage:"), std::string::npos);
    EXPECT_EQ(runCollectorCommand({"serve", "--port", "70000", "--data", data.path()}).first, 2);
    EXPECT_EQ(runCollectorCommand({"serve", "--app-name", "x", "--data", data.path()}).first, 2);
    EXPECT_EQ(runCollectorCommand({"serve", "--data", data.path(), "--settings"}).first, 2);
    auto [badConfig, message] = runCollectorCommand(
        {"serve", "--config", data.file("missing.json"), "--data", data.path()});
    EXPECT_EQ(badConfig, 2);
    EXPECT_NE(message.find("cannot open configuration file"), std::string::npos) << message;
    auto [emptyReport, reportMessage] = runCollectorCommand({"report", "--data", data.path()});
    EXPECT_EQ(emptyReport, 1);
    EXPECT_NE(reportMessage.find("no collector data"), std::string::npos) << reportMessage;
}

}  // namespace
}  // namespace rivlo::collector::test
