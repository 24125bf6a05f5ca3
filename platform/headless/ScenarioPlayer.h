#pragma once

#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/headless/Scenario.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rivlo {

// Builds a scenario's interface on the headless device and plays its actions in real time on
// the main run loop: each action starts when the previous one has finished plus the
// scenario's pause. Touches go through the application's event path (hit test, recognisers).
// Main thread only; the platform must outlive the player.
class ScenarioPlayer {
  public:
    ScenarioPlayer(HeadlessPlatform& platform, Scenario scenario);
    ~ScenarioPlayer();

    // Creates the key window with the root controller (and its first screen's views).
    void buildInterface();
    // Starts playing (building the interface first when needed); `done` runs after the last
    // action.
    void start(std::function<void()> done = nullptr);
    bool isFinished() const { return finished_; }
    // Stops before the next action.
    void stop();

    // Runs "call" actions: the host program's own calls at that point of the scenario (for
    // example into the library it links). Answers false for a call it does not know, which is
    // logged. Without a handler every call is logged and skipped.
    using CallHandler =
        std::function<bool(const std::string& name, const std::vector<std::string>& args)>;
    void setCallHandler(CallHandler handler) { callHandler_ = std::move(handler); }

    std::shared_ptr<Window> window() const { return window_; }
    // The controller of a named screen (created on first use).
    std::shared_ptr<ViewController> controllerForScreen(const std::string& name);
    // A view by id among the key window's views, then among every built screen.
    std::shared_ptr<View> viewWithIdentifier(const std::string& id);
    // One line per action played ("tap 160,300", "push list" ...), for logs and tests.
    const std::vector<std::string>& played() const { return played_; }

    const Scenario& scenario() const { return scenario_; }

    // Builds the views of one description (exposed for the render tool).
    std::shared_ptr<View> makeView(const ViewSpec& desc);
    // Fills a web view with a page: its address, size and painted blocks.
    void showPage(WebView& web, const std::string& pageName);

  private:
    void runNext();
    // Runs one action; calls `next` when it has finished.
    void perform(const ActionSpec& action, std::function<void()> next);
    std::optional<Point> targetPoint(const ActionSpec& action);
    NavigationController* navigation();
    void answerAlert(const ActionSpec& action, double deadline, std::function<void()> next);

    HeadlessPlatform& platform_;
    Scenario scenario_;
    std::shared_ptr<Window> window_;
    std::shared_ptr<ViewController> root_;
    std::map<std::string, std::shared_ptr<ViewController>> controllers_;
    size_t next_ = 0;
    bool started_ = false;
    bool finished_ = false;
    bool stopped_ = false;
    std::function<void()> done_;
    CallHandler callHandler_;
    std::vector<std::string> played_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace rivlo
