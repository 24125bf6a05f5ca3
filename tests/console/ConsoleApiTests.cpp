// The console's API against a real collector holding real recorded sessions: the headless
// device plays tests/console/console-session.json while the library records it and uploads to
// a collector on loopback (once per run of this program; a second engine is a second run), and
// then a collector with the console attached serves that data folder. People are added with the
// rivlo-collector executable, as an operator would.

#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "CollectorServer.h"
#include "CollectorTestSupport.h"
#include "ConsoleApi.h"
#include "ConsoleTestClient.h"
#include "DemoRun.h"
#include "SessionFacts.h"
#include "protocol/RVWireProtocol.h"
#include "platform/headless/Scenario.h"

namespace rivlo::collector::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kAppKey = "console-test-key";
constexpr const char* kAdminPassword = "correct horse battery staple";
constexpr const char* kViewerPassword = "viewer's own password";

// The recording and the collector serving it, for the whole program.
class RecordedCollector : public ::testing::Environment {
  public:
    static RecordedCollector* instance;

    void SetUp() override {
        std::string error;
        auto scenario = Scenario::load(RIVLO_CONSOLE_SCENARIO, error);
        ASSERT_TRUE(scenario) << error;
        demo::DemoOptions options;
        options.dataDir = dir.path();
        options.appKey = kAppKey;
        options.appName = "Console Test Shop";
        options.settleTimeout = 90;
        dataDir = dir.file("collector");
        options.databaseUrl = databaseFor(dataDir);
        const demo::DemoRunResult run = demo::DemoRun::run(*scenario, options);
        ASSERT_TRUE(run.collectorStarted && run.played && run.settled)
            << (run.problems.empty() ? std::string("the recording did not finish")
                                     : run.problems.front());
        screenWidth = run.screen.width;
        screenHeight = run.screen.height;

        // The people, added by the executable.
        writeFile(dir.file("admin.txt"), std::string(kAdminPassword) + "\n");
        writeFile(dir.file("viewer.txt"), std::string(kViewerPassword) + "\n");
        for (const auto& [name, file, role] :
             std::vector<std::tuple<std::string, std::string, std::string>>{
                 {"ada", "admin.txt", "admin"}, {"vic", "viewer.txt", "viewer"}}) {
            std::vector<std::string> args = {
                "user",  "add",    name, "--password-file", dir.file(file), "--data",
                dataDir, "--role", role};
            for (const std::string& a : databaseArguments(dataDir))
                args.push_back(a);
            const auto [status, out] = runCollectorCommand(args);
            ASSERT_EQ(status, 0) << out;
        }

        ASSERT_TRUE(start(error)) << error;
    }

    // A collector with the console attached over the recording.
    bool start(std::string& error) {
        CollectorConfig config;
        config.dataDir = dataDir;
        config.databaseUrl = databaseFor(dataDir);
        CollectorApp app;
        app.key = kAppKey;
        app.name = "Console Test Shop";
        config.apps.push_back(app);
        config.logSink = log.sink();
        server = std::make_unique<CollectorServer>(config);
        console = std::make_unique<ConsoleApi>(*server, config);
        console->attach();
        if (!server->start(error)) return false;
        url = server->url();
        return true;
    }

    void stop() {
        if (server) server->stop();
        console.reset();
        server.reset();
    }

    void TearDown() override { stop(); }

    TempDir dir;
    std::string dataDir;
    std::string url;
    double screenWidth = 0, screenHeight = 0;
    LogCapture log;
    std::unique_ptr<CollectorServer> server;
    std::unique_ptr<ConsoleApi> console;
};

RecordedCollector* RecordedCollector::instance = nullptr;

class ConsoleApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(env().server, nullptr) << "no recording to look at";
        ASSERT_EQ(admin.logIn("ada", kAdminPassword).status, 200);
        const json apps = admin.send("GET", "/api/v1/apps").json();
        ASSERT_TRUE(apps.contains("apps") && apps["apps"].size() == 1) << apps.dump();
        app = apps["apps"][0]["id"].get<std::string>();
    }

    static RecordedCollector& env() { return *RecordedCollector::instance; }

    json sessions(const std::string& query) {
        const ConsoleAnswer answer = admin.send("GET", "/api/v1/sessions?app=" + app + query);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.json();
    }

    json firstSession() {
        const json list = sessions("&tag=console-test");
        EXPECT_EQ(list["sessions"].size(), 1u) << list.dump();
        const ConsoleAnswer detail = admin.send(
            "GET", "/api/v1/sessions/" + std::to_string(list["sessions"][0]["id"].get<int64_t>()));
        EXPECT_EQ(detail.status, 200) << detail.body;
        return detail.json();
    }

    // The three quick taps of the login screen make a rage tap when the device played them
    // within one second of the timeline (a loaded machine can stretch them over two).
    bool rageTapRecorded() {
        std::vector<double> times;
        const json session = firstSession();
        for (const json& e : session["events"]) {
            if (e["kind"] == "tap" && std::abs(e["x"].get<double>() - 100) <= 5 &&
                std::abs(e["y"].get<double>() - 500) <= 5)
                times.push_back(e["t"].get<double>());
        }
        return times.size() == 3 && times[2] - times[0] <= 1;
    }

    ConsoleTestClient admin{env().url};
    std::string app;  // the application's console identifier
};

TEST_F(ConsoleApiTest, LoginSetsAProtectedCookieThatEveryRouteNeeds) {
    ConsoleTestClient nobody(env().url);
    for (const std::string& path : std::vector<std::string>{
             "/api/v1/apps", "/api/v1/sessions?app=" + app, "/api/v1/sessions/1", "/api/v1/media/1",
             "/api/v1/heatmap?app=" + app + "&screen=x", "/api/v1/me"}) {
        EXPECT_EQ(nobody.send("GET", path).status, 401) << path;
    }
    EXPECT_EQ(nobody.send("DELETE", "/api/v1/installations/x").status, 401);
    EXPECT_EQ(nobody.send("POST", "/api/v1/logout").status, 401);

    EXPECT_EQ(nobody.logIn("ada", "wrong password").status, 401);
    EXPECT_EQ(nobody.logIn("nobody-at-all", kAdminPassword).status, 401);
    EXPECT_EQ(nobody.send("GET", "/api/v1/apps").status, 401);
    // A made-up cookie is nobody's.
    EXPECT_EQ(nobody.send("GET", "/api/v1/apps", {"Cookie: rivlo_session=" + std::string(43, 'A')})
                  .status,
              401);

    const ConsoleAnswer login = nobody.logIn("vic", kViewerPassword);
    ASSERT_EQ(login.status, 200) << login.body;
    ASSERT_EQ(login.cookies.size(), 1u);
    const std::string& cookie = login.cookies[0];
    EXPECT_EQ(cookie.rfind("rivlo_session=", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
    EXPECT_EQ(login.json()["role"], "viewer");
    EXPECT_EQ(nobody.send("GET", "/api/v1/apps").status, 200);

    // Logging out ends the login for whoever still has the cookie.
    const std::string kept = nobody.cookie();
    EXPECT_EQ(nobody.change("POST", "/api/v1/logout").status, 200);
    EXPECT_EQ(nobody.send("GET", "/api/v1/apps", {"Cookie: " + kept}).status, 401);
    // The failures are in the log, with the name quoted.
    EXPECT_GE(env().log.countContaining("console: login refused for \"ada\""), 1u);
}

TEST_F(ConsoleApiTest, NoRequestFromAnotherSiteChangesAnything) {
    const std::string installation = firstSession()["installation"].get<std::string>();
    const std::string path = "/api/v1/installations/" + installation;
    // The cookie alone (what a form or script of another site would send with it) is not
    // enough; nor is the token with another site's origin.
    EXPECT_EQ(admin.send("DELETE", path).status, 403);
    EXPECT_EQ(admin.send("DELETE", path, {"X-Rivlo-CSRF: " + std::string(43, 'x')}).status, 403);
    EXPECT_EQ(admin
                  .send("DELETE", path,
                        {"X-Rivlo-CSRF: " + admin.csrf(), "Origin: https://elsewhere.example"})
                  .status,
              403);
    EXPECT_EQ(admin.send("POST", "/api/v1/logout").status, 403);
    // A form of another site cannot log anyone in (not JSON, or not from here).
    EXPECT_EQ(admin
                  .send("POST", "/api/v1/login",
                        {"Content-Type: application/x-www-form-urlencoded"}, "user=ada&password=x")
                  .status,
              415);
    EXPECT_EQ(admin
                  .send("POST", "/api/v1/login",
                        {"Content-Type: application/json", "Origin: https://elsewhere.example"},
                        json{{"user", "ada"}, {"password", kAdminPassword}}.dump())
                  .status,
              403);
    // Nothing was removed: the session is still there, and the login still works.
    EXPECT_EQ(sessions("")["total"], 2);
    EXPECT_EQ(admin.send("GET", "/api/v1/me").status, 200);
}

TEST_F(ConsoleApiTest, TheListFiltersCountsAndPages) {
    const json all = sessions("");
    ASSERT_EQ(all["total"], 2) << all.dump();
    ASSERT_EQ(all["sessions"].size(), 2u);
    EXPECT_TRUE(all["next_cursor"].is_null());
    // Newest first.
    EXPECT_GE(all["sessions"][0]["started_at"].get<std::string>(),
              all["sessions"][1]["started_at"].get<std::string>());
    const json& first = all["sessions"][1];
    for (const char* key : {"id", "app", "installation", "started_at", "duration_s", "screens",
                            "gestures", "crashed", "tags", "movie"}) {
        EXPECT_TRUE(first.contains(key)) << key;
    }
    EXPECT_EQ(first["app"], app);
    EXPECT_FALSE(first["crashed"].get<bool>());
    EXPECT_TRUE(first["movie"].get<bool>());
    EXPECT_GE(first["duration_s"].get<int64_t>(), 3);
    EXPECT_GE(first["gestures"].get<int64_t>(), 8);
    EXPECT_EQ(first["tags"], json::array({"console-test"}));
    EXPECT_EQ(first["started_at"].get<std::string>().size(), 20u);  // 2026-12-09T07:00:00Z
    const auto& screens = first["screens"];
    ASSERT_GE(screens.size(), 4u) << screens.dump();
    EXPECT_EQ(screens[0], "LoginViewController");

    EXPECT_EQ(sessions("&tag=second-visit")["total"], 1);
    EXPECT_EQ(sessions("&tag=no-such-tag")["total"], 0);
    EXPECT_EQ(sessions("&screen=ProductPageViewController")["total"], 1);
    EXPECT_EQ(sessions("&screen=ProductListViewController")["total"], 2);
    EXPECT_EQ(sessions("&crashed=true")["total"], 0);
    EXPECT_EQ(sessions("&crashed=false")["total"], 2);
    EXPECT_EQ(sessions("&min_duration=100000")["total"], 0);
    EXPECT_EQ(sessions("&from=2000-01-01")["total"], 2);
    EXPECT_EQ(sessions("&to=2000-01-01")["total"], 0);
    EXPECT_EQ(sessions("&screen=ProductListViewController&tag=second-visit")["total"], 1);

    // A page at a time: the total on every page, the second page the other session.
    const json one = sessions("&limit=1");
    ASSERT_EQ(one["sessions"].size(), 1u);
    EXPECT_EQ(one["total"], 2);
    ASSERT_TRUE(one["next_cursor"].is_string());
    const json two = sessions("&limit=1&cursor=" + one["next_cursor"].get<std::string>());
    ASSERT_EQ(two["sessions"].size(), 1u);
    EXPECT_EQ(two["total"], 2);
    EXPECT_EQ(two["sessions"][0]["id"], all["sessions"][1]["id"]);
    EXPECT_TRUE(two["next_cursor"].is_null());

    // Questions it cannot answer are refused, not guessed at.
    for (const std::string& bad :
         std::vector<std::string>{"&crashed=maybe", "&limit=0", "&limit=abc", "&cursor=x",
                                  "&from=yesterday", "&min_duration=-1"}) {
        EXPECT_EQ(admin.send("GET", "/api/v1/sessions?app=" + app + bad).status, 400) << bad;
    }
    EXPECT_EQ(admin.send("GET", "/api/v1/sessions?app=nope").status, 404);
}

TEST_F(ConsoleApiTest, ASessionHasItsEventsDeviceMediaAndWebPages) {
    const json s = firstSession();
    ASSERT_TRUE(s.contains("events")) << s.dump();
    std::map<std::string, int> kinds;
    std::vector<json> taps;
    double last = -1;
    for (const json& e : s["events"]) {
        ++kinds[e["kind"].get<std::string>()];
        EXPECT_GE(e["t"].get<double>(), last) << "events in time order";
        last = e["t"].get<double>();
        if (e["kind"] == "tap" && e["screen"] == "LoginViewController") taps.push_back(e);
    }
    EXPECT_GE(kinds["screen"], 4);
    EXPECT_GE(kinds["tap"], 5);
    EXPECT_EQ(kinds["double_tap"], 1);
    EXPECT_EQ(kinds["swipe"], 1);
    EXPECT_EQ(kinds["pinch"], 1);
    EXPECT_EQ(kinds["background"], 1);
    EXPECT_EQ(s["events"].back()["kind"], "background");
    // The three quick taps of the login screen, where they were made.
    ASSERT_GE(taps.size(), 3u);
    EXPECT_NEAR(taps[0]["x"].get<double>(), 100, 2);
    EXPECT_NEAR(taps[0]["y"].get<double>(), 500, 2);

    EXPECT_EQ(s["device"]["width"].get<double>(), env().screenWidth);
    EXPECT_EQ(s["device"]["height"].get<double>(), env().screenHeight);
    EXPECT_EQ(s["user"], "Grace Hopper");
    ASSERT_TRUE(s["media"]["screen"].is_string()) << s["media"].dump();
    EXPECT_TRUE(s["media"]["camera"].is_null());
    EXPECT_EQ(s["media"]["screen"].get<std::string>().rfind("/api/v1/media/", 0), 0u);

    ASSERT_EQ(s["web_pages"].size(), 1u) << s["web_pages"].dump();
    const json& page = s["web_pages"][0];
    EXPECT_EQ(page["address"], "https://shop.example.com/journal/caring-for-leather-boots");
    EXPECT_GE(page["tiles"].size(), 1u);
    EXPECT_EQ(page["touches"].size(), 2u);
    const ConsoleAnswer tile = admin.send("GET", page["tiles"][0]["url"].get<std::string>());
    EXPECT_EQ(tile.status, 200);
    EXPECT_EQ(tile.header("content-type"), "image/jpeg");
    EXPECT_EQ(tile.body.substr(0, 2), "\xFF\xD8");

    EXPECT_EQ(admin.send("GET", "/api/v1/sessions/999999999").status, 404);
    EXPECT_EQ(admin.send("GET", "/api/v1/sessions/abc").status, 404);
}

TEST_F(ConsoleApiTest, MoviesAreServedByRanges) {
    const std::string movie = firstSession()["media"]["screen"].get<std::string>();
    const ConsoleAnswer whole = admin.send("GET", movie);
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.header("accept-ranges"), "bytes");
    EXPECT_EQ(whole.header("content-type"), "video/mp4");
    const size_t size = whole.body.size();
    ASSERT_GT(size, 1000u);
    EXPECT_EQ(whole.body.substr(4, 4), "ftyp");

    const ConsoleAnswer head = admin.send("GET", movie, {"Range: bytes=0-99"});
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.header("content-range"), "bytes 0-99/" + std::to_string(size));
    EXPECT_EQ(head.body, whole.body.substr(0, 100));

    const ConsoleAnswer middle = admin.send("GET", movie, {"Range: bytes=500-"});
    EXPECT_EQ(middle.status, 206);
    EXPECT_EQ(middle.header("content-range"),
              "bytes 500-" + std::to_string(size - 1) + "/" + std::to_string(size));
    EXPECT_EQ(middle.body, whole.body.substr(500));

    const ConsoleAnswer tail = admin.send("GET", movie, {"Range: bytes=-10"});
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.body, whole.body.substr(size - 10));

    const ConsoleAnswer beyond =
        admin.send("GET", movie, {"Range: bytes=" + std::to_string(size) + "-"});
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(beyond.header("content-range"), "bytes */" + std::to_string(size));

    // A document is not media, and the id must be a number.
    EXPECT_EQ(
        admin.send("GET", "/api/v1/media/" + std::to_string(firstSession()["id"].get<int64_t>()))
            .status,
        404);
    EXPECT_EQ(admin.send("GET", "/api/v1/media/..%2Fcollector.db").status, 404);
}

// The rule itself, on taps made up to its edges: three or more single taps within one second
// of the timeline and 24 points of the first; each tap counts in one rage tap only.
TEST(RageTapRule, ThreeTapsWithinASecondAndAFingerWidth) {
    auto tap = [](int64_t seconds, double x, double y) {
        SessionFacts::Gesture g;
        g.code = rivlo::RVTimelineEvent::SingleTap;
        g.seconds = seconds;
        g.x = x;
        g.y = y;
        return g;
    };
    EXPECT_EQ(SessionFacts::rageTaps({tap(5, 100, 100), tap(5, 110, 100), tap(6, 100, 123)}).size(),
              1u);
    EXPECT_TRUE(SessionFacts::rageTaps({tap(5, 100, 100), tap(5, 100, 100)}).empty());
    EXPECT_TRUE(
        SessionFacts::rageTaps({tap(5, 100, 100), tap(6, 100, 100), tap(7, 100, 100)}).empty());
    EXPECT_TRUE(
        SessionFacts::rageTaps({tap(5, 100, 100), tap(5, 125, 100), tap(5, 100, 125)}).empty());
    const auto six = SessionFacts::rageTaps({tap(5, 10, 10), tap(5, 10, 10), tap(5, 10, 10),
                                             tap(5, 10, 10), tap(5, 10, 10), tap(5, 10, 10)});
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].x, 10);
}

// The PNG's size and how many of its pixels are mostly red (the painter's touches).
std::pair<std::pair<int, int>, long> pictureOf(const std::string& png) {
    struct Reader {
        const std::string* bytes;
        size_t at = 0;
    } reader{&png};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->bytes->size()) return CAIRO_STATUS_READ_ERROR;
            std::copy_n(r->bytes->data() + r->at, length, data);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return {{0, 0}, 0};
    }
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    long red = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t p = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
            const int r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
            if (r > 180 && g < 120 && b < 120) ++red;
        }
    }
    cairo_surface_destroy(surface);
    return {{w, h}, red};
}

TEST_F(ConsoleApiTest, HeatMapsSumTheTapsAndMarkRageTaps) {
    const std::string base = "/api/v1/heatmap?app=" + app + "&screen=LoginViewController";
    const ConsoleAnswer answer = admin.send("GET", base + "&format=json");
    ASSERT_EQ(answer.status, 200) << answer.body;
    const json heat = answer.json();
    EXPECT_EQ(heat["screen"], "LoginViewController");
    EXPECT_EQ(heat["sessions"], 1);
    int64_t taps = 0;
    bool atTheRagePoint = false;
    for (const json& p : heat["points"]) {
        EXPECT_TRUE(p.contains("x") && p.contains("y") && p.contains("kind") &&
                    p.contains("count"));
        if (p["kind"] == "tap") taps += p["count"].get<int64_t>();
        if (p["kind"] == "tap" && std::abs(p["x"].get<double>() - 100) <= 2 &&
            std::abs(p["y"].get<double>() - 500) <= 2)
            atTheRagePoint = true;
    }
    EXPECT_EQ(taps, 4) << heat.dump();  // the three quick ones and the button
    EXPECT_TRUE(atTheRagePoint);
    const bool rage = rageTapRecorded();
    ASSERT_EQ(heat["rage_taps"].size(), rage ? 1u : 0u) << heat.dump();
    if (rage) {
        EXPECT_NEAR(heat["rage_taps"][0]["x"].get<double>(), 100, 2);
    }
    EXPECT_EQ(heat["width"].get<double>(), env().screenWidth);

    // Only the kinds asked for; a period with no sessions has none.
    const json swipes = admin.send("GET", base + "&kinds=swipe").json();
    EXPECT_TRUE(swipes["points"].empty()) << swipes.dump();
    const json old = admin.send("GET", base + "&from=2001-01-01&to=2001-01-31").json();
    EXPECT_EQ(old["sessions"], 0);
    EXPECT_TRUE(old["points"].empty());
    EXPECT_EQ(admin.send("GET", base + "&kinds=kick").status, 400);
    EXPECT_EQ(admin.send("GET", base + "&format=gif").status, 400);

    // The picture: a frame of the screen's movie with the touches drawn over it.
    const ConsoleAnswer png = admin.send("GET", base + "&format=png");
    ASSERT_EQ(png.status, 200);
    EXPECT_EQ(png.header("content-type"), "image/png");
    const auto [size, red] = pictureOf(png.body);
    EXPECT_GE(size.first, env().screenWidth);
    EXPECT_GE(size.second, env().screenHeight);
    EXPECT_GT(red, 50) << "no touches drawn";
    // The same question again is answered from what was kept, byte for byte.
    EXPECT_EQ(admin.send("GET", base + "&format=png").body, png.body);

    // A web page's heat map is over its stitched tiles, in page points.
    const std::string page = "https://shop.example.com/journal/caring-for-leather-boots";
    const json web = admin
                         .send("GET", "/api/v1/heatmap?app=" + app + "&screen=" +
                                          "https%3A%2F%2Fshop.example.com%2Fjournal%2Fcaring-"
                                          "for-leather-boots")
                         .json();
    EXPECT_EQ(web["screen"], page);
    EXPECT_TRUE(web["web"].get<bool>()) << web.dump();
    EXPECT_EQ(web["points"].size(), 2u) << web.dump();
}

// The index of the collector before the console (layout 2: no screens, points, heat-map sums,
// placements, versions or people) is brought up when the collector starts on it, and what the
// new tables hold is read again from the stored documents.
TEST_F(ConsoleApiTest, YAnIndexOfThePreviousLayoutIsBroughtUpWithItsSessions) {
    const std::string movie = firstSession()["media"]["screen"].get<std::string>();
    const int64_t before = sessions("")["sessions"][1]["gestures"].get<int64_t>();
    env().stop();
    {
        CollectorIndex index;
        std::string error;
        std::string url = databaseFor(env().dataDir);
        if (url.empty()) url = CollectorIndex::defaultUrl(env().dataDir);
        ASSERT_TRUE(index.open(url, false, error)) << error;
        const bool downgraded = index.use([&](SqlDatabase& db) {
            for (const char* sql :
                 {"DROP TABLE session_screens", "DROP TABLE session_points",
                  "DROP TABLE heat_points", "DROP TABLE console_users", "DROP TABLE console_logins",
                  "DROP INDEX uploads_by_session", "DROP INDEX sessions_by_app_order",
                  "DROP INDEX session_tags_by_tag", "ALTER TABLE uploads DROP COLUMN session_id",
                  "ALTER TABLE applications DROP COLUMN generation",
                  "ALTER TABLE sessions DROP COLUMN version",
                  "CREATE INDEX sessions_by_app_start ON sessions (app_key, started_unix)",
                  "CREATE INDEX session_tags_by_tag ON session_tags (tag)",
                  "UPDATE collector_meta SET value = '2' WHERE name = 'schema'"}) {
                if (!db.run(sql, {}, nullptr, error)) return false;
            }
            return true;
        });
        ASSERT_TRUE(downgraded) << error;
    }
    std::string error;
    ASSERT_TRUE(env().start(error)) << error;
    EXPECT_EQ(env().log.countContaining(
                  "index: screens, gestures and versions of 2 stored sessions read from their "
                  "documents (0 unreadable)"),
              1u);
    // The people went with the old layout's lack of them: added again.
    ASSERT_TRUE(env().console->accounts().addUser("ada", kAdminPassword, ConsoleAccounts::kAdmin,
                                                  false, error))
        << error;
    ASSERT_TRUE(env().console->accounts().addUser("vic", kViewerPassword, ConsoleAccounts::kViewer,
                                                  false, error))
        << error;
    admin = ConsoleTestClient(env().url);
    ASSERT_EQ(admin.logIn("ada", kAdminPassword).status, 200);

    const json all = sessions("&screen=LoginViewController");
    ASSERT_EQ(all["total"], 1) << all.dump();
    EXPECT_EQ(all["sessions"][0]["gestures"], before);
    EXPECT_GE(all["sessions"][0]["screens"].size(), 4u);
    EXPECT_TRUE(all["sessions"][0]["movie"].get<bool>());
    EXPECT_EQ(firstSession()["media"]["screen"], movie);
    EXPECT_EQ(admin.send("GET", movie, {"Range: bytes=0-9"}).status, 206);
    const json heat =
        admin.send("GET", "/api/v1/heatmap?app=" + app + "&screen=LoginViewController").json();
    EXPECT_EQ(heat["sessions"], 1);
    EXPECT_EQ(heat["rage_taps"].size(), rageTapRecorded() ? 1u : 0u) << heat.dump();
    // Started again, it is not read a second time.
    env().stop();
    ASSERT_TRUE(env().start(error)) << error;
    EXPECT_EQ(env().log.countContaining("read from their documents"), 1u);
}

// Last: it removes what the others look at.
TEST_F(ConsoleApiTest, ZDeletingAnInstallationTakesEverythingOfItAndOnlyAnAdminMay) {
    const json s = firstSession();
    const std::string installation = s["installation"].get<std::string>();
    const std::string movie = s["media"]["screen"].get<std::string>();
    ConsoleTestClient viewer(env().url);
    ASSERT_EQ(viewer.logIn("vic", kViewerPassword).status, 200);
    EXPECT_EQ(viewer.change("DELETE", "/api/v1/installations/" + installation).status, 403);
    EXPECT_EQ(sessions("")["total"], 2);

    EXPECT_EQ(admin.change("DELETE", "/api/v1/installations/nope").status, 404);
    const ConsoleAnswer gone = admin.change("DELETE", "/api/v1/installations/" + installation);
    ASSERT_EQ(gone.status, 200) << gone.body;
    EXPECT_EQ(sessions("")["total"], 0);
    EXPECT_EQ(admin.send("GET", movie).status, 404);
    const json heat =
        admin.send("GET", "/api/v1/heatmap?app=" + app + "&screen=LoginViewController").json();
    EXPECT_EQ(heat["sessions"], 0);
    EXPECT_TRUE(heat["points"].empty());
    EXPECT_TRUE(storedUploads(env().dataDir).empty());
    for (const std::string& file : listFiles(env().dataDir + "/apps"))
        ADD_FAILURE() << "left behind: " << file;
    EXPECT_GE(env().log.countContaining("console: ada deletes installation"), 1u);
}

}  // namespace
}  // namespace rivlo::collector::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using rivlo::collector::test::RecordedCollector;
    RecordedCollector::instance = new RecordedCollector;
    ::testing::AddGlobalTestEnvironment(RecordedCollector::instance);
    return RUN_ALL_TESTS();
}
