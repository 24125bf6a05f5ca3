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

void appear(const std::shared_ptr<ViewController>& controller, bool appearing) {
    controller->beginAppearance(appearing, false);
    controller->endAppearance(appearing, false);
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
    connect(window, &QWindow::xChanged, this, followNow);
    connect(window, &QWindow::yChanged, this, followNow);
    connect(window, &QWindow::widthChanged, this, followNow);
    connect(window, &QWindow::heightChanged, this, followNow);
    connect(window, &QWindow::activeChanged, this, [followNow, window] {
        if (window->isActive()) followNow();
    });
    connect(quick, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
    return &entries_.emplace(quick, std::move(entry)).first->second;
}

QQuickWindow* QtQuickWindows::ownerFor(QQuickWindow* quick) const {
    auto isShownMain = [this, quick](const QWindow* w) -> QQuickWindow* {
        auto it = entries_.find(w);
        if (w == quick || it == entries_.end() || it->second.over || it->second.window->isHidden())
            return nullptr;
        return qobject_cast<QQuickWindow*>(it->second.quick);
    };
    // The window it is transient for (a Window declared inside another one is), or the one
    // that one is shown over.
    for (QWindow* p = quick->transientParent(); p; p = p->transientParent()) {
        if (QQuickWindow* owner = isShownMain(p)) return owner;
        auto it = entries_.find(p);
        if (it != entries_.end() && it->second.over) return isShownMain(it->second.owner);
    }
    // A dialog, popup or tool window of no window: over the one worked in.
    const Qt::WindowType type = quick->type();
    if (type == Qt::Window || type == Qt::Widget) return nullptr;
    std::shared_ptr<Window> key = application_ ? application_->keyWindow() : nullptr;
    for (const auto& [object, e] : entries_) {
        if (key && e.window == key) return isShownMain(e.quick);
    }
    return nullptr;
}

void QtQuickWindows::place(Entry& entry) {
    auto* quick = qobject_cast<QQuickWindow*>(entry.quick);
    QWindow* owner = entry.owner.data();
    if (!quick || !owner) return;
    const QPoint at = quick->mapToGlobal(QPoint(0, 0)) - owner->mapToGlobal(QPoint(0, 0));
    entry.root->setFrame(Rect(at.x(), at.y(), quick->width(), quick->height()));
}

void QtQuickWindows::leaveOwner(Entry& entry) {
    if (!entry.over) return;
    entry.over = false;
    entry.owner = nullptr;
    entry.root->removeFromSuperview();
    entry.root->setFrame(entry.window->bounds());
    entry.window->addSubview(entry.root);
    if (entry.screen) appear(entry.controller, false);
}

void QtQuickWindows::follow(QQuickWindow* quick) {
    if (!quick) return;
    Entry* entry = adopt(quick);
    if (!entry) return;
    const Rect bounds = sizeOf(quick);
    if (entry->window->frame() != bounds) {
        entry->window->setFrame(bounds);
        if (!entry->over) entry->root->setFrame(bounds);
    }
    const bool shown = quick->isVisible() && bounds.width() > 0 && bounds.height() > 0;
    QQuickWindow* owner = shown ? ownerFor(quick) : nullptr;
    const bool wasShown = entry->over || !entry->window->isHidden();
    if (shown == wasShown && (!shown || owner == entry->owner.data())) {
        if (entry->over) place(*entry);
        for (auto& [object, e] : entries_) {
            if (e.over && e.owner == quick) place(e);
        }
        if (shown && !entry->over && quick->isActive() && application_) {
            application_->makeKeyWindow(entry->window);
            updateScreen(false);
        }
        return;
    }
    // Out of the role it had, quietly: its screen goes with it.
    leaveOwner(*entry);
    if (!entry->window->isHidden() && (!shown || owner)) entry->window->setHidden(true);
    RVLog("QtQuickWindows: %s (%d x %d) %s%s", entry->name.c_str(), quick->width(), quick->height(),
          shown ? "shows" : "is hidden", owner ? " over its window" : "");
    if (shown) {
        pages_->scan(quick);
        entry->shownAt = ++clock_;
        const Qt::WindowType type = quick->type();
        entry->screen = type != Qt::Popup && type != Qt::ToolTip;
    }
    if (owner) {
        // Laid over its window's Window, where it shows: drawn into its frames and touched in
        // its coordinates (QtQuickWindowFrames, QtQuickInput).
        entry->over = true;
        entry->owner = owner;
        entries_.at(owner).window->addSubview(entry->root);
        place(*entry);
        if (entry->screen) appear(entry->controller, true);
    } else if (shown) {
        // The window's own screen appears with it; then the page it shows.
        entry->window->setHidden(false);
        if (application_) application_->makeKeyWindow(entry->window);
    }
    // The windows over it go over another window, or become windows of their own.
    if (!shown || owner) refollowWindowsOver(quick);
    updateScreen(true);
}

void QtQuickWindows::refollowWindowsOver(const QObject* owner) {
    std::vector<QPointer<QWindow>> over;
    for (const auto& [object, e] : entries_) {
        if (e.over && e.owner == owner) over.push_back(e.quick);
    }
    for (const QPointer<QWindow>& w : over) {
        auto it = entries_.find(w.data());
        if (it == entries_.end()) continue;
        leaveOwner(it->second);
        follow(qobject_cast<QQuickWindow*>(w.data()));
    }
}

std::vector<QQuickWindow*> QtQuickWindows::windowsOver(const QQuickWindow* main) const {
    std::vector<std::pair<uint64_t, QQuickWindow*>> over;
    for (const auto& [object, e] : entries_) {
        auto* quick = qobject_cast<QQuickWindow*>(e.quick);
        if (quick && e.over && e.owner == main) over.emplace_back(e.shownAt, quick);
    }
    std::sort(over.begin(), over.end());
    std::vector<QQuickWindow*> out;
    for (const auto& [at, quick] : over)
        out.push_back(quick);
    return out;
}

QQuickWindow* QtQuickWindows::frameWindowFor(QQuickWindow* window) const {
    auto it = entries_.find(window);
    if (it == entries_.end() || !it->second.over) return window;
    auto* owner = qobject_cast<QQuickWindow*>(it->second.owner);
    return owner ? owner : window;
}

void QtQuickWindows::updateScreen(bool again) {
    std::shared_ptr<Window> key = application_ ? application_->keyWindow() : nullptr;
    const Entry* entry = nullptr;
    for (const auto& [object, e] : entries_) {
        if (key && e.window == key) entry = &e;
    }
    QQuickWindow* quick = entry ? qobject_cast<QQuickWindow*>(entry->quick) : nullptr;
    if (!quick) return;
    // The dialog shown last over it is the screen, with the page it shows.
    for (QQuickWindow* over : windowsOver(quick)) {
        const Entry& e = entries_.at(over);
        if (e.screen) entry = &e;
    }
    quick = qobject_cast<QQuickWindow*>(entry->quick);
    QQuickItem* page = quick ? pages_->currentPage(quick) : nullptr;
    std::shared_ptr<ViewController> screen = page ? pages_->controllerFor(page) : entry->controller;
    std::shared_ptr<ViewController> old = screen_.lock();
    if (screen == old && !again) return;
    const bool windowScreen = old && std::any_of(entries_.begin(), entries_.end(), [&](auto& e) {
                                  return e.second.controller == old;
                              });
    // A page that is left disappears; a window's own screen does so with its window.
    if (old && old != screen && old->isVisible() && !windowScreen) appear(old, false);
    if (screen != old) RVLog("QtQuickWindows: the screen is %s", screen->className().c_str());
    appear(screen, true);
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
    leaveOwner(it->second);
    it->second.window->setHidden(true);
    Entry entry = std::move(it->second);
    entries_.erase(it);
    refollowWindowsOver(quick);
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
    if (it == entries_.end()) return nullptr;
    if (!it->second.over) return it->second.window;
    auto owner = entries_.find(it->second.owner.data());
    return owner == entries_.end() ? nullptr : owner->second.window;
}

View* QtQuickWindows::rootViewFor(const QQuickWindow* window) const {
    auto it = entries_.find(window);
    return it == entries_.end() ? nullptr : it->second.root.get();
}

}  // namespace rivlo
