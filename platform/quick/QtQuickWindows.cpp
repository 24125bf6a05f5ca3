#include "platform/quick/QtQuickWindows.h"

#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/quick/QtQuickPages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QRegularExpression>

#include <algorithm>

namespace rivlo {

namespace {

Rect sizeOf(const QQuickWindow* w) {
    return Rect(0, 0, std::max(0, w->width()), std::max(0, w->height()));
}

ObjClass* controllerClass(const std::string& name) {
    ObjClass* existing = ObjClass::named(name);
    if (existing && existing->isSubclassOf(ViewController::classObject())) return existing;
    // A name the toolkit's own classes use ("UIView") is given a suffix.
    return ObjClass::define(existing ? name + "Screen" : name, ViewController::classObject());
}

ObjClass* rootViewClass() {
    static ObjClass* const cls = [] {
        ObjClass* existing = ObjClass::named("view:QQuickWindow");
        return existing ? existing : ObjClass::define("view:QQuickWindow", View::classObject());
    }();
    return cls;
}

// Windows that render into something else (a QQuickWidget's) are not on the screen themselves.
bool rendersElsewhere(QQuickWindow* window) {
    return QQuickRenderControl::renderWindowFor(window) != nullptr;
}

}  // namespace

std::string QtQuickWindows::typeName(const QObject* object) {
    if (!object) return "QQuickWindow";
    QString name = QString::fromLatin1(object->metaObject()->className());
    // Types the QML engine makes from documents: "LoginPage_QMLTYPE_8"; inline components and
    // types made on the fly: "QQuickRectangle_QML_3".
    static const QRegularExpression suffix(QStringLiteral("_QML(TYPE)?_\\d+$"));
    name.remove(suffix);
    return name.isEmpty() ? "QQuickWindow" : name.toStdString();
}

std::string QtQuickWindows::screenName(const QObject* object) {
    const std::string name = typeName(object);
    const bool qtOwn = name.size() > 1 && name[0] == 'Q' && name[1] >= 'A' && name[1] <= 'Z';
    if (object && qtOwn && !object->objectName().isEmpty())
        return object->objectName().toStdString();
    return name;
}

std::shared_ptr<ViewController> QtQuickWindows::makeScreen(const QObject* object) {
    auto controller = std::make_shared<ViewController>(controllerClass(screenName(object)));
    controller->setView(std::make_shared<View>());
    return controller;
}

QtQuickWindows::QtQuickWindows(std::shared_ptr<Application> application)
    : application_(std::move(application)), pages_(std::make_unique<QtQuickPages>()) {
    pages_->setChangedHandler([this] { updateScreen(false); });
}

QtQuickWindows::~QtQuickWindows() = default;

void QtQuickWindows::watch(QObject* application) {
    application->installEventFilter(this);
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        auto* quick = qobject_cast<QQuickWindow*>(window);
        if (quick && quick->isVisible()) follow(quick);
    }
}

bool QtQuickWindows::eventFilter(QObject* watched, QEvent* event) {
    // A window met for the first time when it shows; followed through its signals from then on.
    if (event->type() == QEvent::Show && watched->isWindowType() && !entries_.count(watched)) {
        if (auto* quick = qobject_cast<QQuickWindow*>(watched)) {
            // Shown once this event is handled: followed from the event loop.
            QMetaObject::invokeMethod(
                this, [this, guard = QPointer<QQuickWindow>(quick)] { follow(guard); },
                Qt::QueuedConnection);
        }
    }
    return false;
}

QtQuickWindows::Entry* QtQuickWindows::adopt(QQuickWindow* quick) {
    auto it = entries_.find(quick);
    if (it != entries_.end()) return &it->second;
    if (rendersElsewhere(quick)) return nullptr;
    Entry entry;
    entry.quick = quick;
    entry.window = std::make_shared<Window>(sizeOf(quick));
    entry.root = std::make_shared<View>(sizeOf(quick), rootViewClass());
    entry.name = screenName(quick);
    entry.controller = std::make_shared<ViewController>(controllerClass(entry.name));
    entry.controller->setView(entry.root);
    entry.window->setRootViewController(entry.controller);  // hidden: no appearance yet
    byView_[entry.window.get()] = quick;
    byView_[entry.root.get()] = quick;
    // QWindow's destructor hides the window after QQuickWindow's has run, when the object is
    // no QQuickWindow any more (though a QML window's meta object still says so): the window is
    // forgotten before, as QQuickWindow's destructor deletes its content item, and its
    // signals are not followed from then on.
    QWindow* window = quick;
    connect(quick->contentItem(), &QObject::destroyed, this, [this, window] { forget(window); });
    auto followNow = [this, window] {
        if (entries_.count(window)) follow(static_cast<QQuickWindow*>(window));
    };
    connect(window, &QWindow::visibleChanged, this, followNow);
    connect(window, &QWindow::widthChanged, this, followNow);
    connect(window, &QWindow::heightChanged, this, followNow);
    connect(window, &QWindow::activeChanged, this, [followNow, window] {
        if (window->isActive()) followNow();
    });
    connect(quick, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
    return &entries_.emplace(quick, std::move(entry)).first->second;
}

void QtQuickWindows::follow(QQuickWindow* quick) {
    if (!quick) return;
    Entry* entry = adopt(quick);
    if (!entry) return;
    const Rect bounds = sizeOf(quick);
    if (entry->window->frame() != bounds) {
        entry->window->setFrame(bounds);
        entry->root->setFrame(bounds);
    }
    const bool shown = quick->isVisible() && bounds.width() > 0 && bounds.height() > 0;
    if (shown == !entry->window->isHidden()) {
        if (shown && quick->isActive() && application_) {
            application_->makeKeyWindow(entry->window);
            updateScreen(false);
        }
        return;
    }
    RVLog("QtQuickWindows: %s (%d x %d) %s", entry->name.c_str(), quick->width(), quick->height(),
          shown ? "shows" : "is hidden");
    if (shown) pages_->scan(quick);
    // The window's own screen appears or disappears with it; then the page it shows.
    entry->window->setHidden(!shown);
    if (shown && application_) application_->makeKeyWindow(entry->window);
    updateScreen(true);
}

void QtQuickWindows::updateScreen(bool again) {
    std::shared_ptr<Window> key = application_ ? application_->keyWindow() : nullptr;
    const Entry* entry = nullptr;
    for (const auto& [object, e] : entries_) {
        if (key && e.window == key) entry = &e;
    }
    QQuickWindow* quick = entry ? qobject_cast<QQuickWindow*>(entry->quick) : nullptr;
    if (!quick) return;
    QQuickItem* page = pages_->currentPage(quick);
    std::shared_ptr<ViewController> screen = page ? pages_->controllerFor(page) : entry->controller;
    std::shared_ptr<ViewController> old = screen_.lock();
    if (screen == old && !again) return;
    const bool windowScreen = old && std::any_of(entries_.begin(), entries_.end(), [&](auto& e) {
                                  return e.second.controller == old;
                              });
    // A page that is left disappears; a window's own screen does so with its window.
    if (old && old != screen && old->isVisible() && !windowScreen) {
        old->beginAppearance(false, false);
        old->endAppearance(false, false);
    }
    if (screen != old) RVLog("QtQuickWindows: the screen is %s", screen->className().c_str());
    screen->beginAppearance(true, false);
    screen->endAppearance(true, false);
    screen_ = screen;
}

void QtQuickWindows::noteInput(QQuickWindow* quick) {
    const size_t before = pages_->containerCount();
    pages_->scan(quick);
    if (pages_->containerCount() != before) pages_->scheduleUpdate();
}

void QtQuickWindows::forget(QObject* quick) {
    auto it = entries_.find(quick);
    if (it == entries_.end()) return;
    // Hidden while it is still known as a Qt Quick window (not one of the library's own).
    it->second.window->setHidden(true);
    Entry entry = std::move(it->second);
    entries_.erase(it);
    byView_.erase(entry.window.get());
    byView_.erase(entry.root.get());
    entry.window->setRootViewController(nullptr);
    RVLog("QtQuickWindows: %s was destroyed", entry.name.c_str());
    updateScreen(true);
}

QQuickWindow* QtQuickWindows::quickWindowFor(const View* view) const {
    auto it = byView_.find(view);
    if (it == byView_.end()) return nullptr;
    auto entry = entries_.find(it->second);
    return entry == entries_.end() ? nullptr : qobject_cast<QQuickWindow*>(entry->second.quick);
}

std::shared_ptr<Window> QtQuickWindows::windowFor(const QQuickWindow* window) const {
    auto it = entries_.find(window);
    return it == entries_.end() ? nullptr : it->second.window;
}

View* QtQuickWindows::rootViewFor(const QQuickWindow* window) const {
    auto it = entries_.find(window);
    return it == entries_.end() ? nullptr : it->second.root.get();
}

}  // namespace rivlo
