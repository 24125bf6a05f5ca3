#include "HeadlessTestMain.h"

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/AlertView.h"
#include "platform/TextField.h"
#include "platform/headless/ScenarioPlayer.h"
#include "support/LogCapture.h"

#include <fstream>

namespace rivlo::testing {

namespace {

std::string exampleScenario() {
    return std::string(RIVLO_HEADLESS_SCENARIOS) + "/shop.json";
}

// Expects the text to be refused at that line with a reason containing `reason`.
void expectRefused(const std::string& text, int line, const std::string& reason) {
    std::string error;
    auto s = Scenario::parse(text, error);
    EXPECT_FALSE(s.has_value()) << text;
    EXPECT_EQ(error.rfind("line " + std::to_string(line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
}

const char* kMinimal = R"({
  "screens": {"home": {"controller": "HomeViewController",
                       "views": [{"type": "textField", "id": "f", "frame": [0, 0, 10, 10]}]}},
  "root": {"screen": "home"},
  "actions": [
)";

std::string withActions(const std::string& actions) {
    return std::string(kMinimal) + actions + "\n]}";
}

class ScenarioTest : public HeadlessTest {};

class AlertAnswers : public AlertViewDelegate {
  public:
    void alertViewClickedButtonAtIndex(AlertView&, int index) override { answers.push_back(index); }
    std::vector<int> answers;
};
}  // namespace

TEST(ScenarioParseTest, SyntaxErrorsGiveTheLineAndTheReason) {
    expectRefused("{\n  \"screens\": {\n    \"a\": {,}\n  }\n}", 3, "expected a quoted key");
    expectRefused("{\n\"name\": \"x\"\n\"root\": 1}", 3, "expected ',' or '}'");
    expectRefused("{\"name\": \"unterminated\n\"}", 1, "line break inside a text");
    expectRefused("[1, 2", 1, "unexpected end of the file");
    expectRefused("{\"a\": 1, \"a\": 2}", 1, "duplicate key \"a\"");
    expectRefused("{\"a\": 01}", 1, "leading zero");
    expectRefused("{\"a\": tru}", 1, "unexpected character");
    expectRefused("{} x", 1, "unexpected text after the end");
    expectRefused(std::string(100, '[') + std::string(100, ']'), 1, "nesting deeper than 64");
    expectRefused("{\"a\": \"\\uD800\"}", 1, "unpaired surrogate");
    expectRefused("", 1, "unexpected end of the file");
}

TEST(ScenarioParseTest, MeaningErrorsGiveTheLineOfTheOffendingValue) {
    expectRefused("{\n\"root\": {\"screen\": \"home\"}\n}", 1, "needs \"screens\"");
    expectRefused(withActions(R"({"action": "jump"})"), 6, "unknown action \"jump\"");
    expectRefused(withActions("{\"action\": \"tap\"}"), 6, "needs \"at\" or \"on\"");
    expectRefused(withActions("{\"action\": \"tap\", \"at\": [1]}"), 6, "list of 2 numbers");
    expectRefused(withActions("{\"action\": \"tap\", \"on\": \"nowhere\"}"), 6,
                  "unknown view \"nowhere\"");
    expectRefused(withActions("{\"action\": \"tap\", \"at\": [1, 2],\n \"colour\": 3}"), 7,
                  "unknown key \"colour\"");
    expectRefused(withActions("{\"action\": \"wait\", \"seconds\": -1}"), 6, "between 0 and 3600");
    expectRefused(withActions("{\"action\": \"push\", \"screen\": \"home\"}"), 6,
                  "needs a navigation root");
    expectRefused(withActions("{\"action\": \"rotate\", \"orientation\": \"sideways\"}"), 6,
                  "unknown orientation");
    expectRefused(withActions("{\"action\": \"load\", \"on\": \"f\", \"page\": \"p\"}"), 6,
                  "unknown page");
    expectRefused(withActions("{\"action\": \"answerAlert\"}"), 6, "needs \"button\"");
    expectRefused(withActions("{\"action\": \"call\"}"), 6, "needs \"name\"");
    expectRefused(withActions("{\"action\": \"call\", \"name\": \"\"}"), 6, "must not be empty");
    expectRefused(withActions("{\"action\": \"call\", \"name\": \"f\",\n \"args\": 3}"), 7,
                  "\"args\" must be a list");
    expectRefused(withActions("{\"action\": \"call\", \"name\": \"f\", \"args\": [true]}"), 6,
                  "texts or numbers");
    expectRefused(R"({"screens": {"home": {"controller": "H",
        "views": [{"type": "button", "frame": [0, 0, 1, 1]}]}}, "root": {"screen": "home"}})",
                  2, "unknown view type \"button\"");
    expectRefused(R"({"screens": {"home": {"controller": "H",
        "views": [{"frame": [0, 0, -1, 1]}]}}, "root": {"screen": "home"}})",
                  2, "negative size");
    expectRefused(R"({"screens": {"home": {"controller": "H", "views": [
        {"id": "a", "frame": [0, 0, 1, 1]},
        {"id": "a", "frame": [0, 0, 1, 1]}]}}, "root": {"screen": "home"}})",
                  3, "duplicate view id \"a\"");
    expectRefused(R"({"screens": {"home": {"controller": "H"}},
        "root": {"navigation": "other"}})",
                  2, "unknown screen \"other\"");
    expectRefused(R"({"profile": {"idiom": 7}, "screens": {"home": {"controller": "H"}},
        "root": {"screen": "home"}})",
                  1, "profile: \"idiom\" must be -1, 0 or 1");

    std::string error;
    auto ok =
        Scenario::parse(withActions("{\"action\": \"answerAlert\", \"button\": null}"), error);
    ASSERT_TRUE(ok) << error;
    EXPECT_FALSE(ok->actions[0].button.has_value());
}

TEST(ScenarioParseTest, LoadingRefusesMissingFilesAndReadsTheExample) {
    std::string error;
    EXPECT_FALSE(Scenario::load("/nonexistent/scenario.json", error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);

    const std::string bad = ::testing::TempDir() + "bad-scenario.json";
    std::ofstream(bad) << "{\n\"screens\": 3\n}\n";
    EXPECT_FALSE(Scenario::load(bad, error));
    EXPECT_EQ(error, bad + ": line 2: \"screens\" must be an object of named screens");

    auto s = Scenario::load(exampleScenario(), error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->rootKind, Scenario::RootKind::Navigation);
    EXPECT_EQ(s->screens.size(), 3u);
    EXPECT_EQ(s->screens.at("login").controllerClass, "LoginViewController");
    ASSERT_TRUE(s->profile);
    EXPECT_EQ(s->profile->screenBounds, Rect(0, 0, 320, 568));
}

TEST_F(ScenarioTest, TheExampleSessionPlaysFromStartToEnd) {
    std::string error;
    auto scenario = Scenario::load(exampleScenario(), error);
    ASSERT_TRUE(scenario) << error;
    scenario->pause = 0.02;
    for (auto& a : scenario->actions) {
        if (a.kind == "wait") a.seconds = 0.05;
    }
    platform.reset();
    platform = HeadlessPlatform::install(*scenario->profile);

    // Observe the screens as hooks would: a did-appear entry on each screen's class.
    std::vector<std::string> appeared;
    for (const char* name :
         {"LoginViewController", "ProductListViewController", "ProductPageViewController"}) {
        ObjClass* cls = ObjClass::define(name, ViewController::classObject());
        cls->replaceMethod(Selector::viewDidAppear,
                           makeImplementation<ViewController::AppearFn>(
                               [&appeared, cls](ViewController& self, bool animated) {
                                   appeared.push_back(self.className());
                                   IMP super = cls->superclass()->lookup(Selector::viewDidAppear);
                                   invokeImplementation<ViewController::AppearFn>(
                                       super, Selector::viewDidAppear, self, animated);
                               }));
    }
    std::vector<std::string> notes;
    std::vector<NotificationCenter::Token> tokens;
    for (const char* n :
         {ApplicationNotification::DidEnterBackground, ApplicationNotification::DidBecomeActive}) {
        tokens.push_back(NotificationCenter::defaultCenter().addObserver(
            n, nullptr, [&](const Notification& note) { notes.push_back(note.name); }));
    }

    ScenarioPlayer player(*platform, *scenario);
    player.buildInterface();
    std::vector<std::string> gestures;
    auto allow = std::make_shared<GestureRecognizerDelegate>();
    auto single = std::make_shared<TapGestureRecognizer>(1);
    auto dbl = std::make_shared<TapGestureRecognizer>(2);
    auto left = std::make_shared<SwipeGestureRecognizer>(SwipeDirection::Left);
    auto pinch = std::make_shared<PinchGestureRecognizer>();
    for (auto [r, name] : std::vector<std::pair<std::shared_ptr<GestureRecognizer>, std::string>>{
             {single, "tap"}, {dbl, "double"}, {left, "left"}, {pinch, "pinch"}}) {
        r->setDelegate(allow);
        r->addTarget(this, [&gestures, name](GestureRecognizer& g) {
            if (g.state() == GestureState::Ended) gestures.push_back(name);
        });
        player.window()->addGestureRecognizer(r);
    }

    bool done = false;
    player.start([&] { done = true; });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(player.isFinished());
    EXPECT_EQ(player.played().size(), scenario->actions.size());

    EXPECT_EQ(appeared,
              (std::vector<std::string>{"LoginViewController", "ProductListViewController",
                                        "ProductPageViewController", "ProductListViewController"}));
    // Typing taps each field; then the button, the rows and the page.
    auto count = [&](const std::string& g) {
        return std::count(gestures.begin(), gestures.end(), g);
    };
    EXPECT_EQ(count("tap"), 7);  // 2 fields, the button, 2 of the double tap, 2 on the page
    EXPECT_EQ(count("double"), 1);
    EXPECT_EQ(count("left"), 1);
    EXPECT_EQ(count("pinch"), 1);
    EXPECT_GT(pinch->scale(), 2.0);
    EXPECT_GE(platform->application().hitHistory().size(), 9u);

    auto password = std::dynamic_pointer_cast<TextField>(player.viewWithIdentifier("password"));
    ASSERT_NE(password, nullptr);
    EXPECT_TRUE(password->isSecureTextEntry());
    EXPECT_EQ(password->text(), "correct horse");
    auto web = std::dynamic_pointer_cast<WebView>(player.viewWithIdentifier("productWeb"));
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->scrollView()->contentOffset(), (Point{0, 600}));
    EXPECT_EQ(platform->application().statusBarOrientation(), 1);
    EXPECT_EQ(notes, (std::vector<std::string>{"UIApplicationDidEnterBackgroundNotification",
                                               "UIApplicationDidBecomeActiveNotification"}));
    auto* nav = dynamic_cast<NavigationController*>(player.window()->rootViewController().get());
    ASSERT_NE(nav, nullptr);
    EXPECT_EQ(nav->visibleViewController()->className(), "ProductListViewController");

    // The login screen draws: its blue button is where the file says.
    auto login = player.controllerForScreen("login");
    Image shot = platform->snapshot(*login->view(), 1.0);
    EXPECT_TRUE(isColor(shot.pixelAt(40, 340), 0x3B, 0x7D, 0xD8));
    for (auto t : tokens)
        NotificationCenter::defaultCenter().removeObserver(t);
    for (const char* name :
         {"LoginViewController", "ProductListViewController", "ProductPageViewController"}) {
        ObjClass* cls = ObjClass::named(name);
        cls->replaceMethod(Selector::viewDidAppear,
                           cls->superclass()->lookup(Selector::viewDidAppear));
    }
}

TEST_F(ScenarioTest, AlertsAreAnsweredWhenTheyAppear) {
    std::string error;
    auto scenario = Scenario::parse(withActions(R"({"action": "answerAlert", "button": 1},
        {"action": "answerAlert", "button": null, "timeout": 0.1},
        {"action": "answerAlert", "button": 0, "timeout": 0.05})"),
                                    error);
    ASSERT_TRUE(scenario) << error;
    ScenarioPlayer player(*platform, *scenario);
    auto answers = std::make_shared<AlertAnswers>();
    auto first =
        std::make_shared<AlertView>("Camera", "", answers, "No", std::vector<std::string>{"Yes"});
    auto second =
        std::make_shared<AlertView>("Other", "", answers, "OK", std::vector<std::string>{});
    // The first alert shows a little after the action starts waiting for it.
    RunLoop::main().postAfter(RunLoop::Duration(0.1), [&] { first->show(); });
    bool done = false;
    player.start([&] { done = true; });
    // The second alert shows once the first is answered.
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return !answers->answers.empty(); },
                                         std::chrono::seconds(5)));
    second->show();
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(5)));
    EXPECT_EQ(answers->answers, (std::vector<int>{1}));  // the second was dismissed unanswered
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(player.played(), (std::vector<std::string>{"answerAlert 1", "answerAlert none",
                                                         "answerAlert missing"}));
}

TEST_F(ScenarioTest, TabsModalsPagesAndNetworkChanges) {
    std::string error;
    auto scenario = Scenario::parse(R"({
      "pause": 0,
      "pages": {"a": {"url": "https://a.example/", "size": [320, 900]},
                "b": {"url": "https://b.example/", "size": [320, 3000],
                      "blocks": [{"type": "label", "id": "bTitle", "frame": [0, 0, 320, 40],
                                  "text": "B"}]}},
      "screens": {
        "one": {"controller": "TabOneController",
                "views": [{"type": "webView", "id": "web", "frame": [0, 0, 320, 500], "page": "a"}]},
        "two": {"controller": "TabTwoController"},
        "sheet": {"controller": "SheetController"}
      },
      "root": {"tabs": ["one", "two"]},
      "actions": [
        {"action": "scroll", "on": "web", "by": [0, 250]},
        {"action": "scroll", "on": "web", "by": [0, 250]},
        {"action": "load", "on": "web", "page": "b"},
        {"action": "tab", "index": 1},
        {"action": "present", "screen": "sheet"},
        {"action": "network", "status": "cellular"},
        {"action": "memoryWarning"}
      ]})",
                                    error);
    ASSERT_TRUE(scenario) << error;
    ScenarioPlayer player(*platform, *scenario);
    bool done = false;
    player.start([&] { done = true; });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(5)));

    auto web = std::dynamic_pointer_cast<WebView>(player.viewWithIdentifier("web"));
    ASSERT_NE(web, nullptr);
    // Loading page b scrolled back to the top and showed its blocks.
    EXPECT_EQ(web->stringByEvaluatingJavaScript("document.URL"), "https://b.example/");
    EXPECT_EQ(web->scrollView()->contentOffset(), (Point{0, 0}));
    EXPECT_NE(player.viewWithIdentifier("bTitle"), nullptr);
    auto* tabs = dynamic_cast<TabBarController*>(player.window()->rootViewController().get());
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(tabs->selectedViewController()->presentedViewController()->className(),
              "SheetController");
    EXPECT_EQ(platform->reachability().status(), NetworkStatus::Cellular);
}

TEST_F(ScenarioTest, CallsReachTheHostInOrderAndUnknownCallsAreLogged) {
    std::string error;
    auto scenario = Scenario::parse(withActions(R"(
        {"action": "call", "name": "tagUsersName", "args": ["ada"]},
        {"action": "call", "name": "setLocation", "args": [52.5, -0.125]},
        {"action": "call", "name": "nobodyKnows"})"),
                                    error);
    ASSERT_TRUE(scenario) << error;
    scenario->pause = 0;
    ScenarioPlayer player(*platform, *scenario);
    std::vector<std::string> calls;
    player.setCallHandler([&](const std::string& name, const std::vector<std::string>& args) {
        std::string line = name;
        for (const auto& a : args)
            line += " " + a;
        calls.push_back(line);
        return name != "nobodyKnows";
    });
    auto log = std::make_unique<test::LogCapture>();
    bool done = false;
    player.start([&] { done = true; });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(5)));
    std::vector<std::string> lines;
    for (const auto& line : log->lines())
        if (line.find("Scenario: line") != std::string::npos) lines.push_back(line);
    log.reset();
    EXPECT_EQ(calls, (std::vector<std::string>{"tagUsersName ada", "setLocation 52.5 -0.125",
                                               "nobodyKnows"}));
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_NE(lines[0].find("line 9: the call \"nobodyKnows\" is not known"), std::string::npos)
        << lines[0];
}

TEST_F(ScenarioTest, ScrollByAddsUpAndStaysInsideThePage) {
    std::string error;
    auto scenario = Scenario::parse(R"({
      "pause": 0,
      "pages": {"a": {"url": "https://a.example/", "size": [320, 900]}},
      "screens": {"one": {"controller": "ScrollController",
                "views": [{"type": "webView", "id": "web", "frame": [0, 0, 320, 500], "page": "a"}]}},
      "root": {"screen": "one"},
      "actions": [
        {"action": "scroll", "on": "web", "by": [0, 250]},
        {"action": "scroll", "on": "web", "by": [0, 250]}
      ]})",
                                    error);
    ASSERT_TRUE(scenario) << error;
    ScenarioPlayer player(*platform, *scenario);
    bool done = false;
    player.start([&] { done = true; });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(5)));
    auto web = std::dynamic_pointer_cast<WebView>(player.viewWithIdentifier("web"));
    EXPECT_EQ(web->scrollView()->contentOffset(), (Point{0, 400}));  // 900 - 500
}

}  // namespace rivlo::testing
