#include "platform/headless/ScenarioPlayer.h"

#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/AlertView.h"
#include "platform/ImageView.h"
#include "platform/Label.h"
#include "platform/ScrollView.h"
#include "platform/TextField.h"
#include "platform/WebView.h"

#include <cmath>
#include <sstream>

namespace rivlo {

namespace {
std::string pointText(Point p) {
    std::ostringstream s;
    s << p.x << "," << p.y;
    return s.str();
}

ViewController* leafController(ViewController* vc) {
    while (vc) {
        if (auto presented = vc->presentedViewController()) {
            vc = presented.get();
        } else if (auto* nav = dynamic_cast<NavigationController*>(vc);
                   nav && nav->topViewController()) {
            vc = nav->topViewController().get();
        } else if (auto* tab = dynamic_cast<TabBarController*>(vc);
                   tab && tab->selectedViewController()) {
            vc = tab->selectedViewController().get();
        } else {
            break;
        }
    }
    return vc;
}
}  // namespace

ScenarioPlayer::ScenarioPlayer(HeadlessPlatform& platform, Scenario scenario)
    : platform_(platform), scenario_(std::move(scenario)) {}

ScenarioPlayer::~ScenarioPlayer() {
    *alive_ = false;
}

std::shared_ptr<View> ScenarioPlayer::makeView(const ViewSpec& desc) {
    std::shared_ptr<View> view;
    if (desc.type == "label") {
        auto l = std::make_shared<Label>(desc.frame);
        l->setText(desc.text);
        l->setFontSize(desc.fontSize);
        l->setBold(desc.bold);
        l->setTextColor(desc.textColor);
        l->setTextAlignment(static_cast<TextAlignment>(desc.alignment));
        l->setNumberOfLines(desc.lines);
        view = l;
    } else if (desc.type == "textField") {
        auto f = std::make_shared<TextField>(desc.frame);
        f->setText(desc.text);
        f->setPlaceholder(desc.placeholder);
        f->setSecureTextEntry(desc.secure);
        f->setFontSize(desc.fontSize);
        f->setTextColor(desc.textColor);
        view = f;
    } else if (desc.type == "imageView") {
        view = std::make_shared<ImageView>(desc.frame);
    } else if (desc.type == "webView") {
        auto w = std::make_shared<WebView>(desc.frame);
        if (!desc.page.empty()) showPage(*w, desc.page);
        view = w;
    } else if (desc.type == "scrollView") {
        auto s = std::make_shared<ScrollView>(desc.frame);
        s->setContentSize(desc.contentSize);
        view = s;
    } else {
        view = std::make_shared<View>(desc.frame);
    }
    view->setIdentifier(desc.id);
    if (desc.background) view->setBackgroundColor(*desc.background);
    view->setCornerRadius(desc.cornerRadius);
    view->setBorderWidth(desc.borderWidth);
    view->setBorderColor(desc.borderColor);
    view->setHidden(desc.hidden);
    view->setAlpha(desc.alpha);
    if (desc.clips) view->setClipsToBounds(true);
    for (const auto& sub : desc.subviews) {
        auto child = makeView(sub);
        if (auto* web = dynamic_cast<WebView*>(view.get())) {
            web->contentView()->addSubview(child);
        } else {
            view->addSubview(child);
        }
    }
    return view;
}

void ScenarioPlayer::showPage(WebView& web, const std::string& pageName) {
    auto it = scenario_.pages.find(pageName);
    if (it == scenario_.pages.end()) {
        RVLog("Scenario: no page \"%s\"", pageName.c_str());
        return;
    }
    const PageSpec& page = it->second;
    web.loadPage(page.url, page.size);
    web.contentView()->setBackgroundColor(page.background.value_or(Color::white()));
    for (const auto& block : page.blocks)
        web.contentView()->addSubview(makeView(block));
}

std::shared_ptr<ViewController> ScenarioPlayer::controllerForScreen(const std::string& name) {
    auto found = controllers_.find(name);
    if (found != controllers_.end()) return found->second;
    auto desc = scenario_.screens.find(name);
    if (desc == scenario_.screens.end()) return nullptr;
    const ScreenSpec& s = desc->second;
    auto vc = std::make_shared<ViewController>(
        ObjClass::define(s.controllerClass, ViewController::classObject()));
    vc->setTitle(s.title);
    auto root = std::make_shared<View>(platform_.device().screenBounds());
    root->setBackgroundColor(s.background.value_or(Color::white()));
    for (const auto& v : s.views)
        root->addSubview(makeView(v));
    vc->setView(root);
    root->setFillsSuperview(true);
    controllers_[name] = vc;
    return vc;
}

void ScenarioPlayer::buildInterface() {
    if (window_) return;
    switch (scenario_.rootKind) {
        case Scenario::RootKind::Screen:
            root_ = controllerForScreen(scenario_.rootScreens.front());
            break;
        case Scenario::RootKind::Navigation:
            root_ = std::make_shared<NavigationController>(
                controllerForScreen(scenario_.rootScreens.front()));
            break;
        case Scenario::RootKind::Tabs: {
            auto tabs = std::make_shared<TabBarController>();
            std::vector<std::shared_ptr<ViewController>> list;
            for (const auto& name : scenario_.rootScreens)
                list.push_back(controllerForScreen(name));
            tabs->setViewControllers(list);
            root_ = tabs;
            break;
        }
    }
    window_ = std::make_shared<Window>(platform_.device().screenBounds());
    window_->setBackgroundColor(Color::white());
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
}

std::shared_ptr<View> ScenarioPlayer::viewWithIdentifier(const std::string& id) {
    if (window_) {
        if (auto v = window_->findViewWithIdentifier(id)) return v;
    }
    for (auto& [name, vc] : controllers_) {
        if (auto v = vc->view()->findViewWithIdentifier(id)) return v;
    }
    return nullptr;
}

NavigationController* ScenarioPlayer::navigation() {
    return dynamic_cast<NavigationController*>(root_.get());
}

void ScenarioPlayer::start(std::function<void()> done) {
    if (started_) return;
    buildInterface();
    started_ = true;
    done_ = std::move(done);
    RVLog("Scenario: playing \"%s\" (%zu actions)", scenario_.name.c_str(),
          scenario_.actions.size());
    runNext();
}

void ScenarioPlayer::stop() {
    stopped_ = true;
}

void ScenarioPlayer::runNext() {
    if (stopped_ || next_ >= scenario_.actions.size()) {
        finished_ = true;
        if (done_) {
            auto d = std::move(done_);
            done_ = nullptr;
            d();
        }
        return;
    }
    const ActionSpec& action = scenario_.actions[next_++];
    std::weak_ptr<bool> alive = alive_;
    perform(action, [this, alive] {
        RunLoop::main().postAfter(RunLoop::Duration(scenario_.pause), [this, alive] {
            if (auto a = alive.lock(); a && *a) runNext();
        });
    });
}

std::optional<Point> ScenarioPlayer::targetPoint(const ActionSpec& a) {
    if (a.at) return a.at;
    auto view = viewWithIdentifier(a.on);
    if (!view || view->window() != window_.get()) {
        RVLog("Scenario: line %d: view \"%s\" is not on the screen", a.line, a.on.c_str());
        return std::nullopt;
    }
    const Rect b = view->bounds();
    return view->convertPointToView({b.minX() + b.width() / 2, b.minY() + b.height() / 2}, nullptr);
}

void ScenarioPlayer::perform(const ActionSpec& a, std::function<void()> next) {
    auto& app = platform_.application();
    std::weak_ptr<bool> alive = alive_;
    // Touch gestures are delivered in real time; the rest happen at once.
    auto play = [&](const TouchSynthesizer::Steps& steps, const std::string& what) {
        played_.push_back(what);
        TouchSynthesizer::play(app, steps, next);
    };
    if (a.kind == "tap" || a.kind == "doubleTap") {
        auto p = targetPoint(a);
        if (!p) return next();
        play(a.kind == "tap" ? TouchSynthesizer::tap(*p) : TouchSynthesizer::doubleTap(*p),
             a.kind + " " + pointText(*p));
        return;
    }
    if (a.kind == "swipe") {
        Point from = a.from, to = a.to;
        if (!a.on.empty()) {
            auto p = targetPoint(a);
            if (!p) return next();
            from = *p;
            to = *p;
            if (a.direction == "left") to.x -= a.distance;
            if (a.direction == "right") to.x += a.distance;
            if (a.direction == "up") to.y -= a.distance;
            if (a.direction == "down") to.y += a.distance;
        }
        play(TouchSynthesizer::swipe(from, to, a.duration),
             "swipe " + pointText(from) + " " + pointText(to));
        return;
    }
    if (a.kind == "pinch") {
        auto p = targetPoint(a);
        if (!p) return next();
        play(TouchSynthesizer::pinch(*p, a.fromDistance, a.toDistance, a.duration, 8, a.cancel),
             "pinch " + pointText(*p));
        return;
    }
    if (a.kind == "type") {
        auto view = viewWithIdentifier(a.on);
        auto field = std::dynamic_pointer_cast<TextField>(view);
        auto p = targetPoint(a);
        if (!field || !p) return next();
        std::string text = a.text;
        played_.push_back("type " + a.on);
        // The user taps the field, then types.
        TouchSynthesizer::play(app, TouchSynthesizer::tap(*p), [field, text, next] {
            field->setText(text);
            next();
        });
        return;
    }
    if (a.kind == "wait") {
        played_.push_back("wait");
        RunLoop::main().postAfter(RunLoop::Duration(a.seconds), [alive, next] {
            if (auto l = alive.lock(); l && *l) next();
        });
        return;
    }
    if (a.kind == "answerAlert") {
        answerAlert(a, Clock::monotonic() + a.timeout, std::move(next));
        return;
    }
    if (a.kind == "call") {
        played_.push_back("call " + a.call);
        if (!callHandler_ || !callHandler_(a.call, a.args))
            RVLog("Scenario: line %d: the call \"%s\" is not known to this host", a.line,
                  a.call.c_str());
        return next();
    }

    // Immediate actions.
    played_.push_back(a.kind + (a.screen.empty() ? "" : " " + a.screen));
    if (a.kind == "rotate") {
        app.rotate(a.orientation);
    } else if (a.kind == "shake") {
        app.shake();
    } else if (a.kind == "push") {
        if (auto* nav = navigation()) nav->pushViewController(controllerForScreen(a.screen), true);
    } else if (a.kind == "pop") {
        if (auto* nav = navigation()) nav->popViewController(true);
    } else if (a.kind == "present") {
        if (auto* top = leafController(root_.get()))
            top->presentViewController(controllerForScreen(a.screen), true);
    } else if (a.kind == "dismiss") {
        if (auto* top = leafController(root_.get())) top->dismissViewController(true);
    } else if (a.kind == "tab") {
        if (auto* tabs = dynamic_cast<TabBarController*>(root_.get()))
            tabs->setSelectedIndex(static_cast<size_t>(a.index));
    } else if (a.kind == "scroll") {
        auto view = viewWithIdentifier(a.on);
        std::shared_ptr<ScrollView> scroller = std::dynamic_pointer_cast<ScrollView>(view);
        if (auto web = std::dynamic_pointer_cast<WebView>(view)) scroller = web->scrollView();
        if (scroller) {
            Point target = a.offset ? *a.offset : scroller->contentOffset();
            if (a.by) target = {target.x + a.by->x, target.y + a.by->y};
            scroller->setContentOffset(target);
        }
    } else if (a.kind == "load") {
        if (auto web = std::dynamic_pointer_cast<WebView>(viewWithIdentifier(a.on)))
            showPage(*web, a.page);
    } else if (a.kind == "background") {
        app.moveToBackground();
    } else if (a.kind == "foreground") {
        app.returnToForeground();
    } else if (a.kind == "memoryWarning") {
        app.receiveMemoryWarning();
    } else if (a.kind == "network") {
        platform_.reachability().setStatus(a.network);
    }
    next();
}

void ScenarioPlayer::answerAlert(const ActionSpec& a, double deadline, std::function<void()> next) {
    auto alerts = platform_.application().visibleAlerts();
    if (!alerts.empty()) {
        auto alert = alerts.back();
        if (a.button) {
            played_.push_back("answerAlert " + std::to_string(*a.button));
            alert->clickButton(*a.button);
        } else {
            played_.push_back("answerAlert none");
            alert->dismissWithClickedButtonIndex(alert->cancelButtonIndex(), true);
        }
        return next();
    }
    if (Clock::monotonic() >= deadline) {
        RVLog("Scenario: line %d: no alert to answer", a.line);
        played_.push_back("answerAlert missing");
        return next();
    }
    std::weak_ptr<bool> alive = alive_;
    RunLoop::main().postAfter(RunLoop::Duration(0.05), [this, alive, a, deadline, next] {
        if (auto l = alive.lock(); l && *l) answerAlert(a, deadline, next);
    });
}

}  // namespace rivlo
