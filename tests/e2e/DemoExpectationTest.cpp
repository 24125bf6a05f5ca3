// What the demo expects from a scenario, worked out without playing it.

#include "DemoExpectation.h"

#include <gtest/gtest.h>

using namespace rivlo;
using namespace rivlo::demo;

namespace {

std::vector<ExpectedSession> expectFrom(const std::string& actions) {
    const std::string text = R"({
      "pages": {"p": {"url": "https://site.example/a", "size": [320, 2000]}},
      "screens": {
        "a": {"controller": "AController",
              "views": [{"type": "view", "id": "box", "frame": [0, 100, 320, 100]},
                        {"type": "textField", "id": "pw", "frame": [0, 300, 320, 40],
                         "secure": true}]},
        "b": {"controller": "BController",
              "views": [{"type": "webView", "id": "web", "frame": [0, 64, 320, 504], "page": "p"}]}
      },
      "root": {"navigation": "a"},
      "actions": [{"action": "call", "name": "startApplicationWithKey"},
    )" + actions + "]}";
    std::string error;
    auto scenario = Scenario::parse(text, error);
    EXPECT_TRUE(scenario) << error;
    return scenario ? DemoExpectation::from(*scenario) : std::vector<ExpectedSession>{};
}

std::vector<int> codes(const ExpectedEntry& e) {
    std::vector<int> out;
    for (const auto& g : e.gestures)
        out.push_back(g.code);
    return out;
}

TEST(DemoExpectation, ScreensGroupInRunsAndPagesAreNamedOnTheirFirstTouch) {
    auto sessions = expectFrom(R"(
      {"action": "tap", "on": "box"},
      {"action": "push", "screen": "b"},
      {"action": "pop"},
      {"action": "doubleTap", "on": "box"},
      {"action": "push", "screen": "b"},
      {"action": "tap", "at": [100, 300]},
      {"action": "tap", "at": [100, 400]},
      {"action": "pop"},
      {"action": "push", "screen": "b"},
      {"action": "tap", "at": [100, 300]})");
    ASSERT_EQ(sessions.size(), 1u);
    const auto& e = sessions[0].entries;
    // A, B without gestures, A again: one entry; then the page; then B again, whose page was
    // already touched in this orientation, keeps the controller's name.
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].name, "AController");
    EXPECT_EQ(codes(e[0]), (std::vector<int>{0, 1}));
    EXPECT_TRUE(e[0].gestures[1].doubleTap);
    EXPECT_EQ(e[1].name, "https://site.example/a");
    EXPECT_TRUE(e[1].web);
    EXPECT_EQ(codes(e[1]), (std::vector<int>{0, 0}));
    EXPECT_EQ(e[2].name, "BController");
    EXPECT_FALSE(e[2].web);
    EXPECT_EQ(sessions[0].webPages, (std::set<std::string>{"https://site.example/a"}));
    // The secure field of the touched screen is masked.
    EXPECT_EQ(sessions[0].maskedViews, (std::set<std::string>{"pw"}));
}

TEST(DemoExpectation, SwipesFollowTheStatusBarAndRotationsAreRecordedOnce) {
    auto sessions = expectFrom(R"(
      {"action": "swipe", "on": "box", "direction": "left"},
      {"action": "rotate", "orientation": "landscapeLeft"},
      {"action": "swipe", "on": "box", "direction": "left"},
      {"action": "rotate", "orientation": "landscapeLeft"},
      {"action": "rotate", "orientation": "faceUp"},
      {"action": "pinch", "on": "box", "from": 100, "to": 50},
      {"action": "pinch", "on": "box", "from": 50, "to": 100, "cancel": true})");
    ASSERT_EQ(sessions.size(), 1u);
    ASSERT_EQ(sessions[0].entries.size(), 1u);
    // Portrait left is a swipe left (4); with the status bar at 3 the same report is a swipe
    // down (3); the second turn to the same orientation and face up record nothing; a
    // pinch in is 8, a cancelled pinch nothing.
    EXPECT_EQ(codes(sessions[0].entries[0]), (std::vector<int>{4, 10, 3, 8}));
}

TEST(DemoExpectation, BackgroundSplitsSessionsAndCallsLandInTheirOwn) {
    auto sessions = expectFrom(R"(
      {"action": "call", "name": "tagUsersName", "args": ["ada"]},
      {"action": "call", "name": "addTag", "args": ["one"]},
      {"action": "tap", "on": "box"},
      {"action": "background"},
      {"action": "tap", "on": "box"},
      {"action": "call", "name": "markUserAsFavorite"},
      {"action": "foreground"},
      {"action": "call", "name": "setPreciseLocation", "args": [1.5, -2]},
      {"action": "call", "name": "tagScreenName", "args": ["Named"]},
      {"action": "tap", "on": "box"})");
    ASSERT_EQ(sessions.size(), 2u);
    // The name was tagged after the first start: only the second verification takes it.
    EXPECT_FALSE(sessions[0].userName.has_value());
    EXPECT_EQ(sessions[1].userName, "ada");
    EXPECT_EQ(sessions[0].tags, (std::vector<std::string>{"one"}));
    EXPECT_FALSE(sessions[0].favourite);
    EXPECT_TRUE(sessions[1].favourite);  // marked while in the background: the next document
    ASSERT_TRUE(sessions[1].location);
    EXPECT_EQ(*sessions[1].location, std::make_pair(1.5, -2.0));
    // A touch in the background records nothing.
    ASSERT_EQ(sessions[0].entries.size(), 1u);
    EXPECT_EQ(sessions[0].entries[0].gestures.size(), 1u);
    ASSERT_EQ(sessions[1].entries.size(), 1u);
    EXPECT_EQ(sessions[1].entries[0].name, "Named");
}

}  // namespace
