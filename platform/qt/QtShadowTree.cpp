#include "platform/qt/QtShadowTree.h"

#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/ScrollView.h"
#include "platform/TextField.h"
#include "platform/qt/QtWebEngine.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QChildEvent>
#include <QEvent>
#include <QGraphicsView>
#include <QLineEdit>
#include <QStackedWidget>
#include <QWindow>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <typeinfo>

namespace rivlo {

namespace {

// The most-derived C++ class of the widget, as written in the source ("shop::LoginPage").
std::string dynamicClassName(const QWidget* widget) {
    const char* mangled = typeid(*widget).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}

// Qt's own class nearest to the widget's class ("QWidget" for a page class of the app).
std::string nearestQtClassName(const QWidget* widget) {
    for (const QMetaObject* m = widget->metaObject(); m; m = m->superClass()) {
        const char* n = m->className();
        if (n[0] == 'Q' && n[1] >= 'A' && n[1] <= 'Z') return n;
    }
    return "QWidget";
}

// Proxy views are named after the widget's Qt class under a prefix of their own, so that any
// name stays free for a screen ("QWidget", an objectName).
ObjClass* viewClass(const std::string& qtName, ObjClass* base) {
    const std::string name = "view:" + qtName;
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(base)) return existing;
    if (existing) return base;
    return ObjClass::define(name, base);
}

ObjClass* controllerClass(const std::string& name) {
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(ViewController::classObject())) return existing;
    if (existing) {
        // A name of the toolkit's own classes ("UIView"): said once per name.
        static std::set<std::string> told;
        if (told.insert(name).second) {
            RVLog("QtShadowTree: %s names a class that is not a screen; the screen is named %s",
                  name.c_str(), (name + "Screen").c_str());
        }
        return ObjClass::define(name + "Screen", ViewController::classObject());
    }
    return ObjClass::define(name, ViewController::classObject());
}

Rect rectOf(const QRect& r) {
    return Rect(r.x(), r.y(), r.width(), r.height());
}

bool isPage(const QWidget* widget) {
    return qobject_cast<const QStackedWidget*>(widget->parentWidget()) != nullptr;
}

void appear(const std::shared_ptr<ViewController>& controller, bool appearing) {
    controller->beginAppearance(appearing, false);
    controller->endAppearance(appearing, false);
}

int depthOf(const QWidget* widget) {
    int depth = 0;
    for (const QWidget* p = widget; p && !p->isWindow(); p = p->parentWidget())
        ++depth;
    return depth;
}

}  // namespace

// ---- Shadow tree -----------------------------------------------------------------------------

QtShadowTree::QtShadowTree(std::shared_ptr<Application> application)
    : application_(std::move(application)) {}

QtShadowTree::~QtShadowTree() = default;

bool QtShadowTree::isRecordableWindow(const QWidget* widget) {
    if (!widget->isWindow() || !widget->isVisible()) return false;
    // A widget embedded in a graphics scene is a top-level widget that is never on the screen.
    if (widget->graphicsProxyWidget() || widget->testAttribute(Qt::WA_DontShowOnScreen))
        return false;
    const Qt::WindowType type = widget->windowType();
    if (type == Qt::ToolTip || type == Qt::Desktop || type == Qt::SplashScreen) return false;
    // The library's own windows (the status overlay) are not the application's screens.
    return !widget->property("rivloInternal").toBool();
}

bool QtShadowTree::isTransient(const QWidget* topLevel) {
    const Qt::WindowType type = topLevel->windowType();
    return type != Qt::Window && type != Qt::Widget;
}

std::string QtShadowTree::screenName(const QWidget* widget) const {
    const std::string own = dynamicClassName(widget);
    // A plain Qt class says little: the widget's own name says which screen it is.
    if (own == nearestQtClassName(widget) && !widget->objectName().isEmpty())
        return widget->objectName().toStdString();
    return own;
}

QtShadowTree::Node* QtShadowTree::findNode(const QObject* widget) {
    auto it = nodes_.find(widget);
    return it == nodes_.end() ? nullptr : &it->second;
}

QtShadowTree::Node& QtShadowTree::nodeFor(QWidget* widget) {
    auto it = nodes_.find(widget);
    if (it != nodes_.end()) return it->second;
    Node node;
    node.widget = widget;
    node.className = widget->metaObject()->className();
    // A screen's own class names its controller; its view takes Qt's class name.
    const std::string name = isPage(widget) ? nearestQtClassName(widget) : node.className;
    QWidget* web = QtWebEngine::isWebView(widget) ? widget : nullptr;
    if (web) {
        node.web = true;
        node.view = std::make_shared<QtWebViewProxy>(viewClass(name, WebView::classObject()), web,
                                                     webHost_);
    } else if (qobject_cast<QLineEdit*>(widget)) {
        node.view = std::make_shared<TextField>(Rect(), viewClass(name, TextField::classObject()));
    } else if (qobject_cast<QAbstractScrollArea*>(widget)) {
        node.view =
            std::make_shared<ScrollView>(Rect(), viewClass(name, ScrollView::classObject()));
    } else {
        node.view = std::make_shared<View>(Rect(), viewClass(name, View::classObject()));
    }
    if (web) {
        // Scrolling, loading and resizing a page move no widget: the proxy follows the page.
        std::weak_ptr<View> weak = node.view;
        auto follow = [weak] {
            if (auto view = weak.lock()) static_cast<QtWebViewProxy*>(view.get())->follow();
        };
        if (QtWebEngine* engine = QtWebEngine::module())
            engine->onPageChanges(web, this, follow, false);
        if (webViewMet_) webViewMet_(web);
    }
    if (auto* stack = qobject_cast<QStackedWidget*>(widget)) stacks_.emplace_back(stack);
    if (auto* view = qobject_cast<QGraphicsView*>(widget)) graphicsViews_.emplace_back(view);
    QObject::connect(widget, &QObject::destroyed, this,
                     [this](QObject* object) { widgetDestroyed(object); });
    widgetsByView_[node.view.get()] = widget;
    if (auto* proxy = dynamic_cast<QtWebViewProxy*>(node.view.get()))
        widgetsByView_[proxy->contentView().get()] = widget;
    return nodes_.emplace(widget, std::move(node)).first->second;
}

QtShadowTree::WindowEntry& QtShadowTree::windowEntryFor(QWidget* topLevel) {
    auto it = windows_.find(topLevel);
    if (it != windows_.end()) return it->second;
    WindowEntry entry;
    entry.widget = topLevel;
    entry.className = dynamicClassName(topLevel);
    const QRect geometry(QPoint(0, 0), topLevel->size());
    entry.window = std::make_shared<Window>(rectOf(geometry));
    entry.root = std::make_shared<View>(
        rectOf(geometry), viewClass(nearestQtClassName(topLevel), View::classObject()));
    entry.controller = std::make_shared<ViewController>(controllerClass(screenName(topLevel)));
    entry.controller->setView(entry.root);
    entry.window->setRootViewController(entry.controller);  // hidden: no appearance yet
    widgetsByView_[entry.root.get()] = topLevel;
    widgetsByView_[entry.window.get()] = topLevel;
    if (!nodes_.count(topLevel)) {
        QObject::connect(topLevel, &QObject::destroyed, this,
                         [this](QObject* object) { widgetDestroyed(object); });
    }
    return windows_.emplace(topLevel, std::move(entry)).first->second;
}

View* QtShadowTree::viewOf(const QWidget* widget) {
    if (widget->isWindow()) {
        auto it = windows_.find(widget);
        return it == windows_.end() ? nullptr : it->second.root.get();
    }
    Node* node = findNode(widget);
    return node ? node->view.get() : nullptr;
}

void QtShadowTree::follow(Node& node, QWidget* widget) {
    // A window's own node (a web view that is a window) fills its window.
    node.view->setFrame(
        rectOf(widget->isWindow() ? QRect(QPoint(0, 0), widget->size()) : widget->geometry()));
    node.view->setUserInteractionEnabled(widget->isEnabled());
    if (node.web) static_cast<QtWebViewProxy*>(node.view.get())->follow();
}

void QtShadowTree::markChildren(QWidget* parent) {
    if (!parent || !dirtySet_.insert(parent).second) return;
    dirtyParents_.emplace_back(parent);
}

bool QtShadowTree::noteEvent(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            if (widget->isWindow()) {
                // Its size, or where it shows over its main window.
                if (!windows_.count(widget)) return false;
                if (Node* node = findNode(widget)) follow(*node, widget);
                windowsDirty_ = true;
                break;
            }
            // One widget moved: its proxy follows now, nothing else is looked at.
            if (Node* node = findNode(widget)) follow(*node, widget);
            return false;
        case QEvent::Show:
        case QEvent::Hide:
            // Every widget of a window is told when the window shows; only windows matter here
            // (a child's own showing and hiding comes as ShowToParent and HideToParent).
            if (!widget->isWindow()) return false;
            if (event->type() == QEvent::Show) stampsFor(widget).shownAt = ++clock_;
            windowsDirty_ = true;
            break;
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::ZOrderChange:
            if (widget->isWindow()) {
                windowsDirty_ = true;
            } else {
                markChildren(widget->parentWidget());
            }
            break;
        case QEvent::ChildAdded:
        case QEvent::ChildRemoved: {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (!child || !child->isWidgetType()) return false;
            markChildren(widget);
            break;
        }
        case QEvent::ParentChange:
            // It may have become a window, or stopped being one.
            windowsDirty_ = true;
            markChildren(widget->parentWidget());
            break;
        case QEvent::EnabledChange:
            if (Node* node = findNode(widget)) {
                node->view->setUserInteractionEnabled(widget->isEnabled());
            } else if (auto it = windows_.find(widget); it != windows_.end()) {
                it->second.root->setUserInteractionEnabled(widget->isEnabled());
            }
            return false;
        case QEvent::WindowActivate:
            if (!widget->isWindow()) return false;
            stampsFor(widget).activatedAt = ++clock_;
            windowsDirty_ = true;
            break;
        default:
            return false;
    }
    dirty_ = true;
    return true;
}

void QtShadowTree::syncChildren(QWidget* parent, View& parentView, bool all) {
    std::vector<std::shared_ptr<View>> wanted;
    // A web view that is a window of its own: its page is all the window shows (its own
    // children draw the page).
    const bool page = parent->isWindow() && QtWebEngine::isWebView(parent);
    if (page) {
        Node& node = nodeFor(parent);
        follow(node, parent);
        wanted.push_back(node.view);
    }
    const QObjectList none;
    for (QObject* object : page ? none : parent->children()) {
        if (!object->isWidgetType()) continue;
        auto* child = static_cast<QWidget*>(object);
        if (child->isWindow() || child->isHidden()) continue;
        const bool known = nodes_.count(child) > 0;
        Node& node = nodeFor(child);
        follow(node, child);
        wanted.push_back(node.view);
        // A child met now brings its whole subtree; a known one keeps its own (its changes
        // mark it on their own).
        if (!node.web && (all || !known)) syncChildren(child, *node.view, true);
    }
    // Qt paints later children over earlier ones, as the subview order does.
    const auto& current = parentView.subviews();
    if (current == wanted) return;
    for (const auto& view : std::vector<std::shared_ptr<View>>(current)) {
        if (std::find(wanted.begin(), wanted.end(), view) == wanted.end())
            view->removeFromSuperview();
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (i >= parentView.subviews().size() || parentView.subviews()[i] != wanted[i])
            parentView.insertSubview(wanted[i], i);
    }
}

void QtShadowTree::hideWindow(WindowEntry& entry, const char* why) {
    if (entry.role == Role::Hidden) return;
    RVLog("QtShadowTree: window %s %s; it is no longer recorded", entry.className.c_str(), why);
    const Role was = entry.role;
    entry.role = Role::Hidden;
    // Its pages disappear first (inner ones first), then the window's own screen.
    std::vector<std::shared_ptr<ViewController>> kept;
    std::vector<std::shared_ptr<ViewController>> leaving;
    for (const auto& page : visiblePages_) {
        QWidget* pageWidget = widgetForView(page->view().get());
        const bool inWindow = pageWidget && pageWidget->window() == entry.widget.data();
        (inWindow ? leaving : kept).push_back(page);
    }
    visiblePages_ = std::move(kept);
    for (auto it = leaving.rbegin(); it != leaving.rend(); ++it)
        appear(*it, false);
    if (was == Role::Main) {
        entry.window->setHidden(true);
        if (windowGone_) windowGone_(entry.window);
    } else {
        if (entry.screen) appear(entry.controller, false);
        entry.root->removeFromSuperview();
        entry.window->addSubview(entry.root);
    }
}

void QtShadowTree::placeOver(WindowEntry& entry) {
    QWidget* widget = entry.widget.data();
    QWidget* owner = entry.owner.data();
    if (!widget || !owner) return;
    const QPoint at = widget->mapToGlobal(QPoint(0, 0)) - owner->mapToGlobal(QPoint(0, 0));
    entry.root->setFrame(rectOf(QRect(at, widget->size())));
}

void QtShadowTree::setRole(WindowEntry& entry, Role role, QWidget* owner,
                           std::vector<std::shared_ptr<Window>>& newlyShown, bool& hidAny) {
    QWidget* widget = entry.widget.data();
    const Rect bounds(0, 0, widget->width(), widget->height());
    if (entry.role == role && (role != Role::Over || entry.owner == owner)) {
        if (role == Role::Main && !(entry.window->bounds() == bounds)) {
            entry.window->setFrame(bounds);
            entry.root->setFrame(bounds);
        }
        if (role == Role::Over) placeOver(entry);
        return;
    }
    if (entry.role != Role::Hidden) {
        // From one role to the other: quietly, the screen stays.
        if (entry.role == Role::Main) {
            entry.window->setHidden(true);
            if (windowGone_) windowGone_(entry.window);
        } else {
            entry.root->removeFromSuperview();
            entry.window->addSubview(entry.root);
            if (entry.screen) appear(entry.controller, false);
        }
        hidAny = true;
    }
    entry.role = role;
    entry.owner = owner;
    if (role == Role::Main) {
        entry.window->setFrame(bounds);
        entry.root->setFrame(bounds);
        newlyShown.push_back(entry.window);
        return;
    }
    // Laid over the main window's Window, above everything there.
    auto it = windows_.find(owner);
    if (it == windows_.end()) return;
    entry.root->removeFromSuperview();
    it->second.window->addSubview(entry.root);
    placeOver(entry);
    if (entry.screen) appear(entry.controller, true);
}

void QtShadowTree::syncWindows() {
    windowsDirty_ = false;
    std::vector<QWidget*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isWindow()) continue;
        auto it = windows_.find(widget);
        bool recordable = isRecordableWindow(widget);
        if (recordable && (widget->width() <= 0 || widget->height() <= 0)) {
            WindowEntry& entry = windowEntryFor(widget);
            if (!entry.zeroSizeLogged) {
                RVLog("QtShadowTree: window %s is %d x %d; it is recorded once it has a size",
                      entry.className.c_str(), widget->width(), widget->height());
                entry.zeroSizeLogged = true;
            }
            recordable = false;
        }
        if (!recordable) {
            if (it != windows_.end() && it->second.role != Role::Hidden)
                hideWindow(it->second, "was hidden");
            continue;
        }
        windowEntryFor(widget).zeroSizeLogged = false;
        shown.push_back(widget);
    }
    // Entries of widgets that are no longer top-level (reparented into another widget).
    for (auto& [object, entry] : windows_) {
        if (entry.widget && !entry.widget->isWindow() && entry.role != Role::Hidden)
            hideWindow(entry, "became a child widget");
    }

    // The window the person works in: the main window activated or shown last; without one,
    // the dialog or popup shown last.
    auto latest = [this](QWidget* w) { return lastRaised(w); };
    QWidget* working = nullptr;
    for (QWidget* w : shown) {
        if (!isTransient(w) && (!working || latest(w) > latest(working))) working = w;
    }
    if (!working) {
        for (QWidget* w : shown) {
            if (!working || latest(w) > latest(working)) working = w;
        }
    }
    // The main window a dialog or popup belongs to: the first main window up its parents.
    auto ownerOf = [&](QWidget* w) -> QWidget* {
        for (QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
            QWidget* top = p->window();
            if (!isTransient(top)) return top;
            p = top;
        }
        return nullptr;
    };
    std::vector<std::shared_ptr<Window>> newlyShown;
    bool hidAny = false;
    auto isShownMain = [&](QWidget* w) {
        return w && std::find(shown.begin(), shown.end(), w) != shown.end() &&
               (!isTransient(w) || w == working);
    };
    // Main windows first, so that what is laid over them finds them.
    for (int pass = 0; pass < 2; ++pass) {
        for (QWidget* w : shown) {
            WindowEntry& entry = windowEntryFor(w);
            const bool main = isShownMain(w);
            if ((pass == 0) != main) continue;
            if (!entry.built) {
                entry.built = true;
                syncChildren(w, *entry.root, true);
            }
            entry.screen = !isTransient(w) || w->windowType() == Qt::Dialog ||
                           w->windowType() == Qt::Sheet || w->windowType() == Qt::Drawer;
            if (main) {
                setRole(entry, Role::Main, nullptr, newlyShown, hidAny);
                continue;
            }
            QWidget* owner = ownerOf(w);
            if (!isShownMain(owner)) owner = working;
            if (owner == w || !owner) {
                setRole(entry, Role::Main, nullptr, newlyShown, hidAny);
            } else {
                setRole(entry, Role::Over, owner, newlyShown, hidAny);
            }
        }
    }
    const bool workingChanged = working_ != working;
    working_ = working;
    // Windows first (their root screens appear), then pages that became current, outer first.
    for (const auto& window : newlyShown)
        window->setHidden(false);
    if (working && application_ && (workingChanged || !newlyShown.empty())) {
        application_->makeKeyWindow(windows_.at(working).window);
    }
    syncPages(newlyShown, hidAny);
}

void QtShadowTree::syncPages(const std::vector<std::shared_ptr<Window>>& newlyShown, bool hidAny) {
    struct Current {
        int depth;
        std::shared_ptr<ViewController> page;
    };
    std::vector<Current> current;
    stacks_.erase(std::remove_if(stacks_.begin(), stacks_.end(), [](const auto& s) { return !s; }),
                  stacks_.end());
    graphicsViews_.erase(std::remove_if(graphicsViews_.begin(), graphicsViews_.end(),
                                        [](const auto& v) { return !v; }),
                         graphicsViews_.end());
    for (const auto& stack : stacks_) {
        if (!stack->isVisible()) continue;
        auto w = windows_.find(stack->window());
        if (w == windows_.end() || w->second.role == Role::Hidden) continue;
        QWidget* page = stack->currentWidget();
        Node* node = page ? findNode(page) : nullptr;
        if (!node || !node->view->superview()) continue;
        if (!node->page) {
            node->page = std::make_shared<ViewController>(controllerClass(screenName(page)));
            node->page->setView(node->view);
            node->depth = depthOf(page);
        }
        current.push_back({node->depth, node->page});
    }
    std::stable_sort(current.begin(), current.end(),
                     [](const Current& a, const Current& b) { return a.depth < b.depth; });
    std::vector<std::shared_ptr<ViewController>> pages;
    for (const auto& c : current)
        pages.push_back(c.page);

    std::vector<std::shared_ptr<ViewController>> gone;
    for (const auto& page : visiblePages_) {
        if (std::find(pages.begin(), pages.end(), page) == pages.end()) gone.push_back(page);
    }
    for (auto it = gone.rbegin(); it != gone.rend(); ++it)
        appear(*it, false);
    std::vector<std::shared_ptr<ViewController>> previous = std::move(visiblePages_);
    visiblePages_ = pages;
    bool anyAppeared = false;
    for (const auto& page : pages) {
        const bool wasVisible = std::find(previous.begin(), previous.end(), page) != previous.end();
        // A window shown now shows its pages again.
        const bool windowNew =
            page->view()->window() &&
            std::any_of(newlyShown.begin(), newlyShown.end(),
                        [&](const auto& w) { return w.get() == page->view()->window(); });
        if (!wasVisible || windowNew) {
            appear(page, true);
            anyAppeared = true;
        }
    }
    if (hidAny && newlyShown.empty() && !anyAppeared) reappearTopScreen();
}

void QtShadowTree::sync() {
    dirty_ = false;
    bool hidAny = false;
    const bool windows = windowsDirty_;
    // Children first: a window shown now finds its subtree ready.
    while (!dirtyParents_.empty()) {
        std::vector<QPointer<QWidget>> parents;
        parents.swap(dirtyParents_);
        dirtySet_.clear();
        for (const auto& parent : parents) {
            if (!parent) continue;
            View* view = viewOf(parent);
            if (view) syncChildren(parent, *view, false);
        }
    }
    if (windows) {
        syncWindows();
    } else {
        syncPages({}, hidAny);
    }
}

void QtShadowTree::reappearTopScreen() {
    // A window closed over another: the screen below shows again (its innermost current page,
    // else the window's own screen), as a dismissed modal screen uncovers the one below it.
    auto key = application_ ? application_->keyWindow() : nullptr;
    if (!key) return;
    for (auto it = visiblePages_.rbegin(); it != visiblePages_.rend(); ++it) {
        if ((*it)->view()->window() == key.get()) {
            appear(*it, true);
            return;
        }
    }
    if (auto root = key->rootViewController()) appear(root, true);
}

QtShadowTree::Stamps& QtShadowTree::stampsFor(QWidget* topLevel) {
    auto it = stamps_.find(topLevel);
    if (it != stamps_.end()) return it->second;
    QObject::connect(topLevel, &QObject::destroyed, this,
                     [this](QObject* object) { stamps_.erase(object); });
    Stamps& stamps = stamps_[topLevel];
    stamps.widget = topLevel;
    return stamps;
}

uint64_t QtShadowTree::lastRaised(const QWidget* topLevel) const {
    auto it = stamps_.find(topLevel);
    return it == stamps_.end() ? 0 : std::max(it->second.shownAt, it->second.activatedAt);
}

void QtShadowTree::widgetDestroyed(QObject* object) {
    dirtySet_.erase(object);
    if (working_.data() == object || !working_) windowsDirty_ = true;
    auto w = windows_.find(object);
    if (w != windows_.end()) {
        WindowEntry entry = std::move(w->second);
        windows_.erase(w);
        entry.zeroSizeLogged = true;
        hideWindow(entry, "was destroyed");
        widgetsByView_.erase(entry.root.get());
        widgetsByView_.erase(entry.window.get());
        entry.root->removeFromSuperview();
        entry.window->setRootViewController(nullptr);
        windowsDirty_ = true;
    }
    auto n = nodes_.find(object);
    if (n == nodes_.end()) {
        markDirty();
        return;
    }
    Node node = std::move(n->second);
    nodes_.erase(n);
    RVLog("QtShadowTree: %s destroyed; its view is dropped", node.className.c_str());
    if (node.page) {
        auto it = std::find(visiblePages_.begin(), visiblePages_.end(), node.page);
        if (it != visiblePages_.end()) {
            visiblePages_.erase(it);
            appear(node.page, false);
        }
    }
    widgetsByView_.erase(node.view.get());
    if (auto* web = dynamic_cast<QtWebViewProxy*>(node.view.get()))
        widgetsByView_.erase(web->contentView().get());
    node.view->removeFromSuperview();
    markDirty();
}

std::shared_ptr<Window> QtShadowTree::windowForWidget(const QWidget* topLevel) const {
    auto it = windows_.find(topLevel);
    if (it == windows_.end()) return nullptr;
    switch (it->second.role) {
        case Role::Main:
            return it->second.window;
        case Role::Over: {
            auto owner = windows_.find(it->second.owner.data());
            return owner != windows_.end() && owner->second.role == Role::Main
                       ? owner->second.window
                       : nullptr;
        }
        case Role::Hidden:
            break;
    }
    return nullptr;
}

QWidget* QtShadowTree::frameWindowFor(const QWidget* topLevel) const {
    auto it = windows_.find(topLevel);
    if (it == windows_.end()) return nullptr;
    if (it->second.role == Role::Main) return it->second.widget.data();
    if (it->second.role == Role::Over) return it->second.owner.data();
    return nullptr;
}

std::vector<QWidget*> QtShadowTree::windowsOver(const QWidget* main) const {
    std::vector<std::pair<uint64_t, QWidget*>> over;
    if (!main) return {};
    // Every top-level widget that was ever shown has its stamps: no walk of all widgets.
    for (const auto& [object, stamps] : stamps_) {
        QWidget* widget = stamps.widget.data();
        if (!widget || widget == main || !widget->isWindow() || !widget->isVisible() ||
            !isTransient(widget))
            continue;
        if (widget->graphicsProxyWidget() || widget->testAttribute(Qt::WA_DontShowOnScreen) ||
            widget->property("rivloInternal").toBool())
            continue;
        // Its main window: the first one up its parents; one without any is shown over the
        // window the person works in.
        QWidget* owner = nullptr;
        for (QWidget* p = widget->parentWidget(); p; p = p->parentWidget()) {
            QWidget* top = p->window();
            if (!isTransient(top)) {
                owner = top;
                break;
            }
            p = top;
        }
        if (owner && owner != main) continue;
        if (!owner && main != working_.data()) continue;
        const Qt::WindowType type = widget->windowType();
        // Dialogs and tool windows below, then menus and popups, then tooltips.
        const uint64_t layer = type == Qt::ToolTip ? 2 : type == Qt::Popup ? 1 : 0;
        over.emplace_back((layer << 56) | lastRaised(widget), widget);
    }
    std::sort(over.begin(), over.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QWidget*> out;
    for (const auto& [order, widget] : over)
        out.push_back(widget);
    return out;
}

std::vector<QGraphicsScene*> QtShadowTree::scenes() const {
    std::vector<QGraphicsScene*> out;
    for (const auto& view : graphicsViews_) {
        if (view && view->scene() && std::find(out.begin(), out.end(), view->scene()) == out.end())
            out.push_back(view->scene());
    }
    return out;
}

std::shared_ptr<View> QtShadowTree::viewForWidget(const QWidget* widget) const {
    auto it = nodes_.find(widget);
    if (it != nodes_.end()) return it->second.view;
    auto w = windows_.find(widget);
    return w != windows_.end() ? w->second.root : nullptr;
}

std::shared_ptr<ViewController> QtShadowTree::screenForWidget(const QWidget* widget) const {
    auto w = windows_.find(widget);
    if (w != windows_.end()) return w->second.controller;
    auto it = nodes_.find(widget);
    return it != nodes_.end() ? it->second.page : nullptr;
}

QWidget* QtShadowTree::topLevelForWindow(const View* window) const {
    for (const auto& [object, entry] : windows_) {
        if (entry.window.get() == window) return entry.widget.data();
    }
    return nullptr;
}

QWidget* QtShadowTree::widgetForView(const View* view) const {
    auto it = widgetsByView_.find(view);
    if (it == widgetsByView_.end()) return nullptr;
    auto n = nodes_.find(it->second);
    if (n != nodes_.end()) return n->second.widget.data();
    auto w = windows_.find(it->second);
    return w != windows_.end() ? w->second.widget.data() : nullptr;
}

QtWebViewProxy* QtShadowTree::webProxyForContentView(const View* view) const {
    auto it = widgetsByView_.find(view);
    if (it == widgetsByView_.end()) return nullptr;
    auto n = nodes_.find(it->second);
    if (n == nodes_.end() || !n->second.web) return nullptr;
    auto* proxy = static_cast<QtWebViewProxy*>(n->second.view.get());
    return proxy->contentView().get() == view ? proxy : nullptr;
}

QWidget* QtShadowTree::topLevelForWindowHandle(const QObject* windowHandle) const {
    for (const auto& [object, entry] : windows_) {
        if (entry.widget &&
            static_cast<const QObject*>(entry.widget->windowHandle()) == windowHandle)
            return entry.widget.data();
    }
    return nullptr;
}

}  // namespace rivlo
