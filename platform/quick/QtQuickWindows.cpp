#include "platform/quick/QtQuickWindows.h"

#include "foundation/Log.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QRegularExpression>

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

std::string QtQuickWindows::screenName(const QObject* object) {
    if (!object) return "QQuickWindow";
    QString name = QString::fromLatin1(object->metaObject()->className());
    // Types the QML engine makes from documents: "LoginPage_QMLTYPE_8"; inline components and
    // types made on the fly: "QQuickRectangle_QML_3".
    static const QRegularExpression suffix(QStringLiteral("_QML(TYPE)?_\\d+$"));
    name.remove(suffix);
    const bool qtOwn = name.size() > 1 && name[0] == QLatin1Char('Q') && name[1].isUpper();
    if (qtOwn && !object->objectName().isEmpty()) return object->objectName().toStdString();
    return name.isEmpty() ? "QQuickWindow" : name.toStdString();
}

QtQuickWindows::QtQuickWindows(std::shared_ptr<Application> application)
    : application_(std::move(application)) {}

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
    // QWindow's destructor hides the window after QQuickWindow's has run: a signal then comes
    // from a plain QWindow, and the window is forgotten.
    QWindow* window = quick;
    auto followNow = [this, window] {
        if (auto* still = qobject_cast<QQuickWindow*>(window)) {
            follow(still);
        } else {
            forget(window);
        }
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
        if (shown && quick->isActive() && application_) application_->makeKeyWindow(entry->window);
        return;
    }
    RVLog("QtQuickWindows: %s (%d x %d) %s", entry->name.c_str(), quick->width(), quick->height(),
          shown ? "shows" : "is hidden");
    entry->window->setHidden(!shown);
    if (shown && application_) application_->makeKeyWindow(entry->window);
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

}  // namespace rivlo
