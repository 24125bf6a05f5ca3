#include "DemoExpectation.h"

#include <cmath>
#include <cstdlib>

namespace rivlo::demo {

namespace {

// Where a view of the scenario sits in the window, and what it is.
struct PlacedView {
    Rect frame;  // window coordinates
    std::string type;
    std::string page;  // web views: the page shown first
    bool secure = false;
};

void place(const std::vector<ViewSpec>& views, Point origin, const std::string& screen,
           std::map<std::string, std::pair<std::string, PlacedView>>& out) {
    for (const ViewSpec& v : views) {
        const Rect frame(origin.x + v.frame.origin.x, origin.y + v.frame.origin.y,
                         v.frame.size.width, v.frame.size.height);
        if (!v.id.empty()) out[v.id] = {screen, PlacedView{frame, v.type, v.page, v.secure}};
        place(v.subviews, frame.origin, screen, out);
    }
}

Point centre(const Rect& r) {
    return {r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2};
}

// Swipe event code for the direction the recogniser reports, through the status-bar
// orientation: 2 up, 3 down, 4 left, 5 right; 0 for none.
int swipeCode(Point from, Point to, int orientation) {
    const double dx = to.x - from.x, dy = to.y - from.y;
    int reported;  // 1 right, 2 left, 4 up, 8 down
    if (std::fabs(dx) >= std::fabs(dy))
        reported = dx >= 0 ? 1 : 2;
    else
        reported = dy >= 0 ? 8 : 4;
    // The direction each report stands for, per orientation (right, left, up, down).
    static const std::map<int, std::map<int, int>> table{
        {1, {{1, 5}, {2, 4}, {4, 2}, {8, 3}}},
        {2, {{1, 4}, {2, 5}, {4, 3}, {8, 2}}},
        {3, {{1, 2}, {2, 3}, {4, 4}, {8, 5}}},
        {4, {{1, 3}, {2, 2}, {4, 5}, {8, 4}}},
    };
    auto o = table.find(orientation);
    if (o == table.end()) return 0;
    return o->second.at(reported);
}

class Walk {
  public:
    explicit Walk(const Scenario& s) : scenario_(s) {
        for (const auto& [name, screen] : s.screens)
            place(screen.views, {0, 0}, name, views_);
        for (const auto& [id, placed] : views_) {
            if (placed.second.type == "webView" && !placed.second.page.empty())
                pageOf_[id] = placed.second.page;
        }
        if (!s.rootScreens.empty()) {
            stack_.push_back(s.rootScreens.front());
            name_ = controllerOf(stack_.back());
        }
        sessions_.emplace_back();
    }

    std::vector<ExpectedSession> run() {
        for (const ActionSpec& a : scenario_.actions)
            perform(a);
        for (auto& s : sessions_)
            s.entries = group(s.entries);
        return sessions_;
    }

  private:
    std::string controllerOf(const std::string& screen) const {
        auto it = scenario_.screens.find(screen);
        return it == scenario_.screens.end() ? screen : it->second.controllerClass;
    }

    ExpectedSession& session() { return sessions_.back(); }

    std::optional<Point> target(const ActionSpec& a) const {
        if (a.at) return a.at;
        auto it = views_.find(a.on);
        if (it == views_.end()) return std::nullopt;
        return centre(it->second.second.frame);
    }

    // The web view of the showing screen under a window point, if any.
    std::optional<std::string> webViewAt(Point p) const {
        if (stack_.empty()) return std::nullopt;
        for (const auto& [id, placed] : views_) {
            if (placed.first != stack_.back() || placed.second.type != "webView") continue;
            if (placed.second.frame.contains(p)) return id;
        }
        return std::nullopt;
    }

    // A new touch at a window point: a page touched for the first time in this orientation
    // names the screen after its address.
    void touch(Point p) {
        if (inSession_ && started_ && !stack_.empty()) {
            // A new touch finds the secure text fields of the showing screen.
            for (const auto& [id, placed] : views_) {
                if (placed.first == stack_.back() && placed.second.secure)
                    session().maskedViews.insert(id);
            }
        }
        auto web = webViewAt(p);
        if (!web) return;
        auto page = pageOf_.find(*web);
        if (page == pageOf_.end()) return;
        auto described = scenario_.pages.find(page->second);
        if (described == scenario_.pages.end()) return;
        const std::string& url = described->second.url;
        const int digit = orientation_ == 1 || orientation_ == 2 ? 1 : 0;
        session().webPages.insert(url);
        if (touchedPages_.insert(url + "__" + std::to_string(digit)).second) {
            name_ = url;
            web_ = true;
        }
    }

    void record(int code, std::optional<Point> point, bool doubleTap, int line) {
        if (!inSession_ || !started_) return;
        ExpectedEntry e;
        e.name = name_;
        e.web = web_;
        e.gestures.push_back(ExpectedGesture{code, point, doubleTap, line});
        session().entries.push_back(std::move(e));
    }

    void appear(const std::string& screen) {
        name_ = controllerOf(screen);
        web_ = false;
    }

    void perform(const ActionSpec& a) {
        const std::string& k = a.kind;
        if (k == "tap" || k == "doubleTap" || k == "type") {
            auto p = target(a);
            if (!p) return;
            touch(*p);
            record(k == "doubleTap" ? 1 : 0, p, k == "doubleTap", a.line);
        } else if (k == "swipe") {
            Point from = a.from, to = a.to;
            if (!a.on.empty()) {
                auto p = target(a);
                if (!p) return;
                from = to = *p;
                if (a.direction == "left") to.x -= a.distance;
                if (a.direction == "right") to.x += a.distance;
                if (a.direction == "up") to.y -= a.distance;
                if (a.direction == "down") to.y += a.distance;
            }
            touch(from);
            if (int code = swipeCode(from, to, orientation_)) record(code, from, false, a.line);
        } else if (k == "pinch") {
            auto p = target(a);
            if (!p || a.cancel) return;
            touch(*p);
            record(a.toDistance >= a.fromDistance ? 7 : 8, std::nullopt, false, a.line);
        } else if (k == "rotate") {
            if (a.orientation >= 1 && a.orientation <= 4) {
                if (a.orientation != deviceOrientation_) record(10, std::nullopt, false, a.line);
                deviceOrientation_ = a.orientation;
                orientation_ = a.orientation;
            }
        } else if (k == "push" || k == "present") {
            stack_.push_back(a.screen);
            appear(a.screen);
        } else if (k == "pop" || k == "dismiss") {
            if (stack_.size() > 1) stack_.pop_back();
            if (!stack_.empty()) appear(stack_.back());
        } else if (k == "load") {
            pageOf_[a.on] = a.page;
        } else if (k == "background") {
            if (inSession_) {
                inSession_ = false;
                sessions_.emplace_back();
                touchedPages_.clear();
            }
        } else if (k == "foreground") {
            // The next session begins; the name is taken again by its verification.
            inSession_ = true;
            session().userName = userName_;
        } else if (k == "call") {
            call(a);
        }
    }

    void call(const ActionSpec& a) {
        const auto arg = [&](size_t i) { return i < a.args.size() ? a.args[i] : std::string(); };
        if (a.call == "tagUsersName") {
            userName_ = arg(0);
        } else if (a.call == "startApplicationWithKey") {
            // The name is taken when the service accepts the start.
            session().userName = userName_;
            // Views marked before the start are hidden in every frame; those on the screen
            // showing at the start are in the first one.
            if (!started_ && !stack_.empty()) {
                for (const std::string& id : session().maskedViews) {
                    auto placed = views_.find(id);
                    if (placed != views_.end() && placed->second.first == stack_.back())
                        session().maskedFromFirstFrame.insert(id);
                }
            }
            started_ = true;
        } else if (a.call == "addTag") {
            session().tags.push_back(arg(0));
        } else if (a.call == "setPreciseLocation") {
            session().location =
                std::make_pair(std::atof(arg(0).c_str()), std::atof(arg(1).c_str()));
        } else if (a.call == "markUserAsFavorite") {
            session().favourite = true;
        } else if (a.call == "tagScreenName") {
            name_ = arg(0);
            web_ = false;
        } else if (a.call == "occludeSensitiveView") {
            session().maskedViews.insert(arg(0));
        }
    }

    // Runs of equal names become one entry (a screen without gestures leaves none).
    static std::vector<ExpectedEntry> group(const std::vector<ExpectedEntry>& single) {
        std::vector<ExpectedEntry> out;
        for (const ExpectedEntry& e : single) {
            if (!out.empty() && out.back().name == e.name) {
                out.back().gestures.insert(out.back().gestures.end(), e.gestures.begin(),
                                           e.gestures.end());
            } else {
                out.push_back(e);
            }
        }
        return out;
    }

    const Scenario& scenario_;
    std::map<std::string, std::pair<std::string, PlacedView>> views_;  // id -> (screen, view)
    std::map<std::string, std::string> pageOf_;                        // web view id -> page
    std::vector<std::string> stack_;
    std::string name_ = "unknown";
    bool web_ = false;
    int orientation_ = 1;
    int deviceOrientation_ = 1;
    bool inSession_ = true;
    bool started_ = false;
    std::optional<std::string> userName_;
    std::set<std::string> touchedPages_;
    std::vector<ExpectedSession> sessions_;
};

}  // namespace

std::vector<ExpectedSession> DemoExpectation::from(const Scenario& scenario) {
    return Walk(scenario).run();
}

}  // namespace rivlo::demo
