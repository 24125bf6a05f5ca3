// The demo's own path, end to end and short: a two-session scenario of about six seconds with
// a masked view, a secure field, a web page and a rotation is played through DemoRun against
// the in-process collector; what arrived must match what the scenario did (DemoCheck), and
// the heat maps and the report page are drawn from it. The checker itself is shown to catch
// a changed expectation. The controller lives for the process: one run per binary.

#include "DemoCheck.h"
#include "DemoExpectation.h"
#include "DemoRun.h"
#include "HeatMaps.h"
#include "ReportPage.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace rivlo;
using namespace rivlo::demo;

namespace {

constexpr const char* kScenario = R"({
  "name": "short shop",
  "profile": {"screenWidth": 375, "screenHeight": 667, "scale": 2, "network": "wifi"},
  "pause": 0.3,
  "pages": {
    "article": {"url": "https://shop.example.com/journal/short", "size": [375, 1400],
                "background": "#FFFFFF",
                "blocks": [{"type": "view", "frame": [0, 0, 375, 300], "background": "#3B7DD8"},
                           {"type": "view", "frame": [0, 700, 375, 300], "background": "#2EAD5B"}]}
  },
  "screens": {
    "login": {"controller": "LoginViewController", "background": "#F4F4F8",
      "views": [
        {"type": "textField", "id": "password", "frame": [20, 200, 335, 44], "secure": true,
         "text": "hunter2", "background": "#FFFFFF"},
        {"type": "view", "id": "card", "frame": [20, 280, 335, 60], "background": "#FFF4D6"},
        {"type": "view", "id": "go", "frame": [20, 400, 335, 50], "background": "#2EAD5B"}]},
    "article": {"controller": "ArticleViewController",
      "views": [{"type": "webView", "id": "web", "frame": [0, 64, 375, 603], "page": "article"}]}
  },
  "root": {"navigation": "login"},
  "actions": [
    {"action": "call", "name": "tagUsersName", "args": ["ada"]},
    {"action": "call", "name": "occludeSensitiveView", "args": ["card"]},
    {"action": "call", "name": "startApplicationWithKey"},
    {"action": "wait", "seconds": 1.2},
    {"action": "call", "name": "addTag", "args": ["checkout"]},
    {"action": "call", "name": "setPreciseLocation", "args": [48.8566, 2.3522]},
    {"action": "type", "into": "password", "text": "secret"},
    {"action": "tap", "on": "go"},
    {"action": "push", "screen": "article"},
    {"action": "tap", "at": [187, 300]},
    {"action": "scroll", "on": "web", "to": [0, 700]},
    {"action": "tap", "at": [100, 200]},
    {"action": "rotate", "orientation": "landscapeLeft"},
    {"action": "rotate", "orientation": "portrait"},
    {"action": "pop"},
    {"action": "call", "name": "markUserAsFavorite"},
    {"action": "swipe", "on": "go", "direction": "left", "distance": 150},
    {"action": "wait", "seconds": 0.5},
    {"action": "background"},
    {"action": "wait", "seconds": 1.0},
    {"action": "foreground"},
    {"action": "wait", "seconds": 1.2},
    {"action": "doubleTap", "at": [120, 150]},
    {"action": "wait", "seconds": 0.8},
    {"action": "call", "name": "stopApplicationAndUploadData"}
  ]
})";

bool pngSize(const fs::path& path, int& w, int& h) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
    w = ok ? cairo_image_surface_get_width(s) : 0;
    h = ok ? cairo_image_surface_get_height(s) : 0;
    cairo_surface_destroy(s);
    return ok;
}

TEST(DemoEndToEnd, TheShortScenarioArrivesAndMatchesAndIsDrawn) {
    char pattern[] = "/tmp/rivlo-demo-e2e-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    std::string error;
    auto scenario = Scenario::parse(kScenario, error);
    ASSERT_TRUE(scenario) << error;

    const std::vector<ExpectedSession> expected = DemoExpectation::from(*scenario);
    ASSERT_EQ(expected.size(), 2u);
    // The card is marked before the start: the check looks at the first frame too.
    EXPECT_EQ(expected[0].maskedFromFirstFrame, std::set<std::string>{"card"});
    DemoOptions options;
    options.dataDir = root;
    options.settleTimeout = 60;
    const DemoRunResult run = DemoRun::run(*scenario, options);
    ASSERT_TRUE(run.collectorStarted);
    EXPECT_TRUE(run.played);
    EXPECT_TRUE(run.settled) << run.pendingDocuments << " documents pending";

    const DemoData data = DemoCheck::load(run.collectorDir, options.appKey);
    ASSERT_TRUE(data.loaded);
    const std::vector<std::string> problems = DemoCheck::compare(expected, data, run);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    ASSERT_EQ(data.installation.sessions.size(), 2u);

    // The checker catches what did not happen: a tag never added, a gesture never made, a
    // page never touched, a view masked that was not.
    {
        auto changed = expected;
        changed[0].tags.push_back("never-added");
        changed[1].entries.at(0).gestures.push_back(ExpectedGesture{4, Point{10, 10}, false, 1});
        changed[1].webPages.insert("https://shop.example.com/never");
        changed[1].maskedViews.insert("card");
        changed[0].maskedViews.insert("go");
        changed[0].maskedFromFirstFrame.insert("go");
        const auto found = DemoCheck::compare(changed, data, run);
        const auto mentions = [&](const std::string& text) {
            return std::any_of(found.begin(), found.end(), [&](const std::string& line) {
                return line.find(text) != std::string::npos;
            });
        };
        EXPECT_TRUE(mentions("never-added")) << ::testing::PrintToString(found);
        EXPECT_TRUE(mentions("session 2, screen")) << ::testing::PrintToString(found);
        EXPECT_TRUE(mentions("no web tiles of https://shop.example.com/never"));
        EXPECT_TRUE(mentions("\"card\" is never painted over")) << ::testing::PrintToString(found);
        EXPECT_TRUE(mentions("session 1: the view \"go\" shows in the movie's first frame"))
            << ::testing::PrintToString(found);
    }

    // One picture per screen of each session and one per page; the page is stitched at the
    // grid's full size (1400 tall in two tiles of 700) with the legend below.
    std::vector<std::string> drawing;
    const auto images = HeatMaps::paint(data, run.screen, root / "heatmaps", drawing);
    EXPECT_TRUE(drawing.empty()) << ::testing::PrintToString(drawing);
    bool sawPage = false, sawLogin = false;
    for (const auto& image : images) {
        int w = 0, h = 0;
        ASSERT_TRUE(pngSize(root / "heatmaps" / image.file, w, h)) << image.file;
        if (image.web) {
            sawPage = image.session == 1;
            EXPECT_EQ(image.screen, "https://shop.example.com/journal/short");
            EXPECT_EQ(image.tiles, 2);
            EXPECT_EQ(w, 375);
            EXPECT_GT(h, 1400);
        } else if (image.screen == "LoginViewController" && image.session == 1) {
            sawLogin = true;
            EXPECT_EQ(w, 384);  // the movie's width: 375 raised to a multiple of 16
            EXPECT_GT(h, 667);
        }
    }
    EXPECT_TRUE(sawPage);
    EXPECT_TRUE(sawLogin);

    const fs::path page = root / "report.html";
    ASSERT_TRUE(
        ReportPage::write(page, scenario->name, data, images, root / "heatmaps", problems, error))
        << error;
    std::ifstream in(page);
    std::stringstream html;
    html << in.rdbuf();
    EXPECT_NE(html.str().find("<video controls"), std::string::npos);
    EXPECT_NE(html.str().find("heatmaps/" + images.front().file), std::string::npos);
    EXPECT_NE(html.str().find("checkout"), std::string::npos);

    ::unsetenv("RIVLO_SERVICE_URL");
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace
