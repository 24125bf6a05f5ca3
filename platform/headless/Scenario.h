#pragma once

#include "platform/Geometry.h"
#include "platform/headless/HeadlessProfile.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rivlo {

// One view of a screen or page, as the scenario file describes it.
struct ViewSpec {
    std::string type = "view";  // view, label, textField, imageView, webView, scrollView
    std::string id;
    Rect frame;
    std::optional<Color> background;
    std::string text;
    std::string placeholder;
    double fontSize = 17;
    bool bold = false;
    Color textColor = Color::black();
    int alignment = 0;  // 0 left, 1 centre, 2 right
    int lines = 1;
    bool secure = false;
    double cornerRadius = 0;
    double borderWidth = 0;
    Color borderColor = Color::black();
    bool hidden = false;
    double alpha = 1;
    bool clips = false;
    std::string page;  // web views: the page shown first
    Size contentSize;  // scroll views
    std::vector<ViewSpec> subviews;
    int line = 0;
};

struct ScreenSpec {
    std::string name;
    std::string controllerClass;  // the view controller's class name (names the screen)
    std::string title;
    std::optional<Color> background;
    std::vector<ViewSpec> views;
    int line = 0;
};

struct PageSpec {
    std::string name;
    std::string url;
    Size size;
    std::optional<Color> background;
    std::vector<ViewSpec> blocks;
    int line = 0;
};

struct ActionSpec {
    std::string kind;
    int line = 0;
    std::optional<Point> at;                      // tap, doubleTap, pinch
    std::string on;                               // a view id instead of a point (its centre)
    Point from, to;                               // swipe
    std::string direction;                        // swipe on a view: left, right, up, down
    double distance = 150;                        // swipe on a view
    double duration = 0.2;                        // swipe, pinch
    double fromDistance = 0, toDistance = 0;      // pinch
    bool cancel = false;                          // pinch
    int orientation = 1;                          // rotate
    std::string text;                             // type
    std::string screen;                           // push, present
    int index = 0;                                // tab
    std::optional<int> button;                    // answerAlert: none = dismiss without answer
    double timeout = 2.0;                         // answerAlert: how long to wait for an alert
    std::optional<Point> offset;                  // scroll: to
    std::optional<Point> by;                      // scroll: by
    std::string page;                             // load
    double seconds = 0;                           // wait
    NetworkStatus network = NetworkStatus::WiFi;  // network
    std::string call;                             // call: the host call's name
    std::vector<std::string> args;                // call: its arguments (numbers as text)
};

// A scripted session: the device, the application's screens and web pages, the root of the
// interface, and the user's actions in order.
struct Scenario {
    std::string name;
    std::optional<HeadlessProfile> profile;
    std::map<std::string, ScreenSpec> screens;
    std::map<std::string, PageSpec> pages;
    enum class RootKind { Screen, Navigation, Tabs } rootKind = RootKind::Screen;
    std::vector<std::string> rootScreens;
    std::vector<ActionSpec> actions;
    // Seconds between one action's end and the next action's start.
    double pause = 0.1;

    // Parses a scenario text. On failure answers nullopt with "line N: reason" in `error`.
    static std::optional<Scenario> parse(const std::string& text, std::string& error);
    // Reads and parses a file; the error then starts with the path. Refusals are logged.
    static std::optional<Scenario> load(const std::string& path, std::string& error);
};

}  // namespace rivlo
