// The collector's parts on their own: configuration reading, naming rules, the upload receiver,
// and the report's placing of movies and tiles into sessions.

#include <gtest/gtest.h>

#include "CollectorIndex.h"
#include "CollectorNames.h"
#include "CollectorReport.h"
#include "CollectorTestSupport.h"
#include "UploadReceiver.h"

namespace rivlo::collector::test {
namespace {

TEST(CollectorConfigTest, ReadsAFullConfigurationFile) {
    TempDir dir;
    writeFile(dir.file("c.json"), R"({
        "data": "/srv/collector", "host": "0.0.0.0", "port": 8443, "max_body_bytes": 1000,
        "threads": 3, "tls": {"cert": "c.pem", "key": "k.pem"},
        "apps": [{"key": "k1", "name": "One", "video_record": false, "settings": {"g_status": true}},
                 {"key": "k2"}],
        "faults": {"fail_share": 0.25, "delay_ms": 100, "seed": 9}})");
    CollectorConfig config;
    std::string error;
    ASSERT_TRUE(config.loadFile(dir.file("c.json"), error)) << error;
    EXPECT_TRUE(config.validate(error)) << error;
    EXPECT_EQ(config.dataDir, "/srv/collector");
    EXPECT_EQ(config.port, 8443);
    EXPECT_EQ(config.maxBodyBytes, 1000u);
    EXPECT_TRUE(config.usesTls());
    ASSERT_EQ(config.apps.size(), 2u);
    EXPECT_FALSE(config.apps[0].videoRecord);
    EXPECT_EQ(config.apps[0].settings, nlohmann::json({{"g_status", true}}));
    // An application without settings hands out the defaults.
    EXPECT_EQ(config.apps[1].settings, CollectorApp::defaultSettings());
    EXPECT_EQ(config.faults.failShare, 0.25);
    EXPECT_EQ(config.faults.delayShare, 1.0);  // a delay without a share delays every answer
    EXPECT_EQ(config.faults.seed, 9u);
    EXPECT_TRUE(config.faults.enabled());
}

TEST(CollectorConfigTest, TheShippedExampleIsValid) {
    CollectorConfig config;
    std::string error;
    ASSERT_TRUE(config.loadFile(RIVLO_COLLECTOR_EXAMPLE_CONFIG, error)) << error;
    EXPECT_TRUE(config.validate(error)) << error;
    ASSERT_EQ(config.apps.size(), 1u);
    EXPECT_FALSE(config.faults.enabled());
}

TEST(CollectorConfigTest, RefusesMalformedOrContradictoryConfigurations) {
    const char* const malformed[] = {
        "[1, 2]",
        R"({"port": -1})",
        R"({"port": "80"})",
        R"({"apps": {"key": "k"}})",
        R"({"apps": [{"key": "k", "settings": [1]}]})",
        R"({"apps": [{"key": "k", "video_record": "yes"}]})",
        R"({"faults": {"fail_share": "half"}})",
        R"({"tls": "cert.pem"})",
    };
    for (const char* text : malformed) {
        CollectorConfig config;
        std::string error;
        EXPECT_FALSE(config.applyJson(nlohmann::json::parse(text), error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    auto invalid = [](const std::function<void(CollectorConfig&)>& change) {
        CollectorConfig config;
        config.dataDir = "/tmp/x";
        change(config);
        std::string error;
        bool ok = config.validate(error);
        return !ok && !error.empty();
    };
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.dataDir.clear(); }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.port = 70000; }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.keyFile = "k.pem"; }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.maxBodyBytes = 0; }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.faults.resetShare = 1.5; }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) {
        c.faults.failShare = 0.6;
        c.faults.resetShare = 0.6;
    }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) { c.apps = {CollectorApp{}, CollectorApp{}}; }));
    EXPECT_TRUE(invalid([](CollectorConfig& c) {
        CollectorApp app;
        app.key = "same";
        c.apps = {app, app};
    }));
    EXPECT_FALSE(invalid([](CollectorConfig&) {}));
}

TEST(CollectorNamesTest, OnlyPlainNamesReachThePathOfAStoredFile) {
    for (const char* good : {"ABC_1765000000.mp4", "1765000000.txt", "a b.jpeg", "..x"}) {
        EXPECT_TRUE(CollectorNames::isSafeFileName(good)) << good;
    }
    for (std::string bad : {std::string(""), std::string("."), std::string(".."),
                            std::string("a/b"), std::string("..\\x"), std::string("a\nb"),
                            std::string(201, 'n'), std::string("nul\0x", 5)}) {
        EXPECT_FALSE(CollectorNames::isSafeFileName(bad)) << bad;
    }
    EXPECT_EQ(CollectorNames::folderName("abc-DEF_1.2"), "abc-DEF_1.2");
    for (const char* unsafe : {"../up", "a/b", "", "..", "with space"}) {
        std::string name = CollectorNames::folderName(unsafe);
        EXPECT_EQ(name.rfind("x-", 0), 0u) << unsafe;
        EXPECT_TRUE(CollectorNames::isSafeFileName(name));
    }
    EXPECT_NE(CollectorNames::folderName("a/b"), CollectorNames::folderName("a\\b"));
    EXPECT_EQ(CollectorNames::readableFolderName("Demo Shop/../x"), "Demo_Shop_.._x");
    EXPECT_EQ(CollectorNames::readableFolderName(".."), "_.");
    EXPECT_EQ(CollectorNames::readableFolderName(""), "app");
    EXPECT_EQ(CollectorNames::printable("a\r\nb"), "a??b");
}

TEST(UploadReceiverTest, StreamsTheFileAndBoundsTheFields) {
    TempDir dir;
    std::string temp;
    {
        UploadReceiver receiver(dir.path(), true);
        receiver.onPartHeader("video_type", "", "");
        receiver.onPartData("scr", 3);
        receiver.onPartData("een", 3);
        receiver.onPartHeader("file", "m.mp4", "video/mp4");
        for (int i = 0; i < 100; ++i)
            receiver.onPartData("0123456789", 10);
        receiver.onPartHeader("extra", "other.bin", "");  // an unknown file part is dropped
        receiver.onPartData("ignored", 7);
        receiver.sync();
        ASSERT_FALSE(receiver.failed()) << receiver.error();
        EXPECT_EQ(receiver.fields().at("video_type"), "screen");
        EXPECT_EQ(receiver.fields().count("extra"), 0u);
        EXPECT_EQ(receiver.fileName(), "m.mp4");
        EXPECT_EQ(receiver.fileSize(), 1000u);
        temp = receiver.tempPath();
        EXPECT_EQ(readFile(temp).size(), 1000u);
    }
    // Not released: the temporary file goes with the receiver.
    EXPECT_TRUE(listFiles(dir.path()).empty());

    UploadReceiver big(dir.path(), true);
    big.onPartHeader("file", "m.mp4", "");
    big.onPartData("abc", 3);
    big.onPartHeader("note", "", "");
    std::string chunk(UploadReceiver::kMaxFieldBytes / 2 + 1, 'n');
    big.onPartData(chunk.data(), chunk.size());
    big.onPartData(chunk.data(), chunk.size());
    big.sync();
    EXPECT_TRUE(big.failed());
    EXPECT_EQ(big.errorStatus(), 400);
    EXPECT_NE(big.error().find("too large"), std::string::npos);
    // A refused upload drops its temporary file at once.
    EXPECT_TRUE(listFiles(dir.path()).empty());

    UploadReceiver unwritable(dir.path() + "/missing", true);
    unwritable.onPartHeader("file", "m.mp4", "");
    EXPECT_EQ(unwritable.errorStatus(), 500);
}

TEST(CollectorReportTest, PlacesMoviesAndTilesByTheirStamps) {
    TempDir data, files;
    std::string apd;
    {
        InProcessCollector collector(data.path());
        ASSERT_TRUE(collector.start());
        apd = collector.verify("DEVICE-S")["app_device_id"];
        auto send = [&](const std::string& path,
                        const std::vector<std::pair<std::string, std::string>>& fields,
                        const std::string& name, const std::string& bytes) {
            writeFile(files.file(name), bytes);
            return postMultipart(collector.url(path), fields, {{files.file(name)}}).status;
        };
        auto document = [&](int64_t stamp, int run, int length) {
            nlohmann::json doc = {{"apd", apd},
                                  {"dr", std::to_string(run)},
                                  {"tt", std::to_string(length)},
                                  {"cr", false},
                                  {"isF", 0},
                                  {"ut", nlohmann::json::array()},
                                  {"tags", nlohmann::json::array()},
                                  {"rvsdk", "1.0.9"}};
            return send("/webservices/v2/uploaddata", {}, std::to_string(stamp) + ".txt",
                        doc.dump());
        };
        auto screen = [&](int64_t stamp) {
            return send("/webservices/v2/uploadvideo",
                        {{"app_device_id", apd}, {"video_type", "screen"}, {"sv_duration", "5"}},
                        "DEV_" + std::to_string(stamp) + ".mp4", "movie");
        };
        auto camera = [&](int64_t stamp) {
            return send("/webservices/v2/uploadvideo",
                        {{"app_device_id", apd},
                         {"video_type", "camera"},
                         {"cv_duration", "5"},
                         {"orientation", "1"}},
                        apd + "_" + std::to_string(stamp) + ".mp4", "camera");
        };
        // Session 1 ran 1000..1060, session 2 1061..1070 (begun as soon as the first
        // stopped), session 3 2000..2030.
        EXPECT_EQ(document(1060, 1, 60), 200);
        EXPECT_EQ(document(1070, 2, 9), 200);
        EXPECT_EQ(document(2030, 3, 30), 200);
        EXPECT_EQ(screen(1061), 200);  // finished just after its document, inside session 2
        EXPECT_EQ(screen(1069), 200);  // finished a moment before its own document
        EXPECT_EQ(camera(1001), 200);
        EXPECT_EQ(camera(2005), 200);
        EXPECT_EQ(screen(5000), 200);  // long after every session: unassigned
        std::vector<std::pair<std::string, std::string>> tile = {
            {"app_device_id", apd},
            {"orientation", "1"},
            {"activity_name", "shop.example/cart"},
            {"key", "k"},
            {"total_rows", "2"},
            {"total_columns", "1"},
            {"gridImg_width", "320"},
            {"gridImg_height", "480"},
            {"dist_x", "0.000000"},
            {"dist_y", "480.000000"}};
        EXPECT_EQ(send("/webservices/v2/uploadheatcordsweb", tile, "2010.jpeg", "jpeg"), 200);
    }
    std::string report, error;
    ASSERT_TRUE(CollectorReport::build(data.path(), report, error, databaseFor(data.path())))
        << error;
    size_t first = report.find("Session run 1");
    size_t second = report.find("Session run 2");
    size_t third = report.find("Session run 3");
    size_t unmatched = report.find("Not matched to a session document");
    ASSERT_NE(first, std::string::npos) << report;
    ASSERT_NE(second, std::string::npos) << report;
    ASSERT_NE(unmatched, std::string::npos) << report;
    auto within = [&](const std::string& text, size_t from, size_t to) {
        size_t at = report.find(text);
        return at != std::string::npos && at > from && at < to;
    };
    EXPECT_TRUE(within("DEV_1061.mp4", first, second)) << report;
    EXPECT_TRUE(within(apd + "_1001.mp4", first, second)) << report;
    EXPECT_TRUE(within("DEV_1069.mp4", second, third)) << report;
    EXPECT_TRUE(within(apd + "_2005.mp4", third, unmatched)) << report;
    EXPECT_TRUE(within("web tiles: 1", third, unmatched)) << report;
    EXPECT_TRUE(
        within("page \"shop.example/cart\", grid 2x1, at (0.000000, 480.000000)", third, unmatched))
        << report;
    EXPECT_TRUE(within("DEV_5000.mp4", unmatched, report.size())) << report;
}

}  // namespace
}  // namespace rivlo::collector::test
