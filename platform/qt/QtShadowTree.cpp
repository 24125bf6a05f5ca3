#include "platform/qt/QtShadowTree.h"

#include "core/RivloViews.h"
#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/ScrollView.h"
#include "platform/TextField.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QStackedWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
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

ObjClass* viewClass(const std::string& name, ObjClass* base) {
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(base)) return existing;
    if (existing) {
        // The name belongs to a class of another kind (a screen's controller): the view keeps
        // the base class's name instead.
        return base;
    }
    return ObjClass::define(name, base);
}

ObjClass* controllerClass(const std::string& name) {
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(ViewController::classObject())) return existing;
    if (existing) {
        // Qt's own classes (a plain QWidget as a window) also name views: said once per class.
        static std::set<std::string> told;
        if (told.insert(name).second) {
            RVLog("QtShadowTree: class %s names views as well as a screen; the screen is named %s",
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

}  // namespace

// ---- Web view proxy --------------------------------------------------------------------------

QtWebViewProxy::QtWebViewProxy(ObjClass* cls, QWebEngineView* view)
    : WebView(Rect(), cls), view_(view) {}

QWebEngineView* QtWebViewProxy::webView() const {
    return qobject_cast<QWebEngineView*>(view_.data());
}

void QtWebViewProxy::follow() {
    QWebEngineView* view = webView();
    if (!view || !view->page()) return;
    const std::string address = view->url().toString().toStdString();
    const QSizeF contents = view->page()->contentsSize();
    Size size{std::max<double>(contents.width(), view->width()),
              std::max<double>(contents.height(), view->height())};
    if (address != url()) {
        loadPage(address, size);
    } else if (!(contentView()->bounds().size == size)) {
        setContentSize(size);
    }
    const QPointF scroll = view->page()->scrollPosition();
    scrollView()->setContentOffset(Point{scroll.x(), scroll.y()});
}

// ---- Shadow tree -----------------------------------------------------------------------------

QtShadowTree::QtShadowTree(std::shared_ptr<Application> application)
    : application_(std::move(application)) {}

QtShadowTree::~QtShadowTree() = default;

bool QtShadowTree::isRecordableWindow(const QWidget* widget) {
    if (!widget->isWindow() || !widget->isVisible()) return false;
    const Qt::WindowType type = widget->windowType();
    if (type == Qt::ToolTip || type == Qt::Desktop || type == Qt::SplashScreen) return false;
    // The library's own windows (the status overlay) are not the application's screens.
    return !widget->property("rivloInternal").toBool();
}

QtShadowTree::Node& QtShadowTree::nodeFor(QWidget* widget) {
    auto it = nodes_.find(widget);
    if (it != nodes_.end()) return it->second;
    Node node;
    node.widget = widget;
    node.className = widget->metaObject()->className();
    // A screen's own class names its controller; its view takes Qt's class name.
    const std::string name = isPage(widget) ? nearestQtClassName(widget) : node.className;
    if (auto* web = qobject_cast<QWebEngineView*>(widget)) {
        node.web = true;
        node.view = std::make_shared<QtWebViewProxy>(viewClass(name, WebView::classObject()), web);
    } else if (qobject_cast<QLineEdit*>(widget)) {
        node.lineEdit = true;
        node.view = std::make_shared<TextField>(Rect(), viewClass(name, TextField::classObject()));
    } else if (qobject_cast<QAbstractScrollArea*>(widget)) {
        node.view =
            std::make_shared<ScrollView>(Rect(), viewClass(name, ScrollView::classObject()));
    } else {
        node.view = std::make_shared<View>(Rect(), viewClass(name, View::classObject()));
    }
    node.occluded = occluded_.count(widget) > 0;
    if (auto* web = qobject_cast<QWebEngineView*>(widget)) {
        // Scrolling, loading and resizing a page move no widget: the proxy follows the page.
        std::weak_ptr<View> weak = node.view;
        auto follow = [weak] {
            if (auto view = weak.lock()) static_cast<QtWebViewProxy*>(view.get())->follow();
        };
        QObject::connect(web->page(), &QWebEnginePage::scrollPositionChanged, this, follow);
        QObject::connect(web->page(), &QWebEnginePage::contentsSizeChanged, this, follow);
        QObject::connect(web->page(), &QWebEnginePage::urlChanged, this, follow);
    }
    QObject::connect(widget, &QObject::destroyed, this,
                     [this](QObject* object) { widgetDestroyed(object); });
    widgetsByView_[node.view.get()] = widget;
    if (auto* web = dynamic_cast<QtWebViewProxy*>(node.view.get()))
        widgetsByView_[web->contentView().get()] = widget;
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
    entry.controller = std::make_shared<ViewController>(controllerClass(entry.className));
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

void QtShadowTree::follow(Node& node, QWidget* widget) {
    node.view->setFrame(rectOf(widget->geometry()));
    node.view->setUserInteractionEnabled(widget->isEnabled());
    if (node.lineEdit) {
        auto* field = static_cast<TextField*>(node.view.get());
        const auto mode = static_cast<QLineEdit*>(widget)->echoMode();
        field->setSecureTextEntry(mode == QLineEdit::Password ||
                                  mode == QLineEdit::PasswordEchoOnEdit);
    }
    if (node.web) static_cast<QtWebViewProxy*>(node.view.get())->follow();
}

void QtShadowTree::syncChildren(QWidget* parent, View& parentView,
                                std::vector<std::shared_ptr<ViewController>>& pages) {
    std::vector<std::shared_ptr<View>> wanted;
    auto* stack = qobject_cast<QStackedWidget*>(parent);
    for (QObject* object : parent->children()) {
        if (!object->isWidgetType()) continue;
        auto* child = static_cast<QWidget*>(object);
        if (child->isWindow() || child->isHidden()) continue;
        Node& node = nodeFor(child);
        follow(node, child);
        wanted.push_back(node.view);
        if (stack && child == stack->currentWidget()) {
            if (!node.page) {
                node.page =
                    std::make_shared<ViewController>(controllerClass(dynamicClassName(child)));
                node.page->setView(node.view);
            }
            pages.push_back(node.page);
        }
        if (!node.web) syncChildren(child, *node.view, pages);
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
    if (!entry.shown) return;
    RVLog("QtShadowTree: window %s %s; it is no longer recorded", entry.className.c_str(), why);
    entry.shown = false;
    // Its pages disappear first (inner ones first), then the window's own screen.
    std::vector<std::shared_ptr<ViewController>> kept;
    std::vector<std::shared_ptr<ViewController>> leaving;
    for (const auto& page : visiblePages_) {
        const bool inWindow = page->isViewLoaded() && page->view()->window() == entry.window.get();
        (inWindow ? leaving : kept).push_back(page);
    }
    visiblePages_ = std::move(kept);
    for (auto it = leaving.rbegin(); it != leaving.rend(); ++it)
        appear(*it, false);
    entry.window->setHidden(true);
    if (windowGone_) windowGone_(entry.window);
}

void QtShadowTree::sync() {
    dirty_ = false;
    std::vector<std::shared_ptr<ViewController>> pages;
    std::vector<std::shared_ptr<Window>> newlyShown;
    bool hidAny = false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!isRecordableWindow(widget)) {
            auto it = windows_.find(widget);
            if (it != windows_.end() && it->second.shown) {
                hideWindow(it->second, "was hidden");
                hidAny = true;
            }
            continue;
        }
        WindowEntry& entry = windowEntryFor(widget);
        if (widget->width() <= 0 || widget->height() <= 0) {
            if (!entry.zeroSizeLogged) {
                RVLog("QtShadowTree: window %s is %d x %d; it is recorded once it has a size",
                      entry.className.c_str(), widget->width(), widget->height());
                entry.zeroSizeLogged = true;
            }
            if (entry.shown) {
                hideWindow(entry, "has no size");
                hidAny = true;
            }
            continue;
        }
        entry.zeroSizeLogged = false;
        const Rect bounds(0, 0, widget->width(), widget->height());
        if (!(entry.window->bounds() == bounds)) {
            entry.window->setFrame(bounds);
            entry.root->setFrame(bounds);
        }
        entry.root->setUserInteractionEnabled(widget->isEnabled());
        syncChildren(widget, *entry.root, pages);
        if (!entry.shown) {
            entry.shown = true;
            newlyShown.push_back(entry.window);
        }
    }
    // Windows first (their root screens appear), then pages that became current, outer first.
    for (const auto& window : newlyShown) {
        window->setHidden(false);
        if (application_) application_->makeKeyWindow(window);
    }
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

void QtShadowTree::refreshSensitiveViews() {
    for (auto& [object, node] : nodes_) {
        bool sensitive = node.occluded;
        if (node.lineEdit)
            sensitive |= static_cast<TextField*>(node.view.get())->isSecureTextEntry();
        if (sensitive && node.view->window()) RivloViews::occludeSensitiveView(node.view);
    }
}

void QtShadowTree::occlude(QWidget* widget) {
    occluded_.insert(widget);
    Node& node = nodeFor(widget);
    node.occluded = true;
    markDirty();
}

void QtShadowTree::widgetDestroyed(QObject* object) {
    occluded_.erase(object);
    auto w = windows_.find(object);
    if (w != windows_.end()) {
        WindowEntry entry = std::move(w->second);
        windows_.erase(w);
        entry.zeroSizeLogged = true;
        hideWindow(entry, "was destroyed");
        widgetsByView_.erase(entry.root.get());
        widgetsByView_.erase(entry.window.get());
        entry.window->setRootViewController(nullptr);
    }
    auto n = nodes_.find(object);
    if (n == nodes_.end()) return;
    Node node = std::move(n->second);
    nodes_.erase(n);
    RVLog("QtShadowTree: %s destroyed; its view is dropped%s", node.className.c_str(),
          node.occluded ? " (it was occluded)" : "");
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
    if (it == windows_.end() || !it->second.shown) return nullptr;
    return it->second.window;
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
