#include "platform/quick/QtQuickPages.h"

#include "platform/ViewController.h"
#include "platform/quick/QtQuickWindows.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>
#include <cstring>
#include <optional>

namespace rivlo {

namespace {

// Deeper than any scene a person works in: not followed further.
constexpr int kMaxDepth = 512;

struct KindName {
    const char* className;
    int kind;
};

// Which container an item is, by the classes it derives from (a SwipeView is a Container, as a
// TabBar is; only the SwipeView's current item is a page).
std::optional<int> containerKind(const QQuickItem* item) {
    static const KindName kinds[] = {{"QQuickStackView", 0},
                                     {"QQuickSwipeView", 1},
                                     {"QQuickStackLayout", 2},
                                     {"QQuickLoader", 3}};
    for (const QMetaObject* m = item->metaObject(); m; m = m->superClass()) {
        for (const KindName& k : kinds) {
            if (std::strcmp(m->className(), k.className) == 0) return k.kind;
        }
    }
    return std::nullopt;
}

// The signal that says a property changed, connected to the timer's start().
void startOnChange(QObject* object, const char* property, QTimer* timer) {
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(property);
    if (index < 0) return;
    const QMetaMethod signal = meta->property(index).notifySignal();
    const QMetaObject* timerMeta = timer->metaObject();
    const QMetaMethod start = timerMeta->method(timerMeta->indexOfSlot("start()"));
    if (signal.isValid() && start.isValid()) QObject::connect(object, signal, timer, start);
}

bool shows(const QQuickItem* item) {
    for (const QQuickItem* i = item; i; i = i->parentItem()) {
        if (!i->isVisible() || i->opacity() <= 0) return false;
    }
    return true;
}

bool isInside(const QQuickItem* item, const QQuickItem* ancestor) {
    for (const QQuickItem* p = item ? item->parentItem() : nullptr; p; p = p->parentItem()) {
        if (p == ancestor) return true;
    }
    return false;
}

}  // namespace

QtQuickPages::QtQuickPages() {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] { update(); });
}

QtQuickPages::~QtQuickPages() = default;

void QtQuickPages::scheduleUpdate() {
    if (!timer_.isActive()) timer_.start();
}

void QtQuickPages::scan(QQuickWindow* window) {
    QQuickItem* root = window ? window->contentItem() : nullptr;
    if (!root) return;
    while (root->parentItem())
        root = root->parentItem();
    visit(root, 0);
}

void QtQuickPages::visit(QQuickItem* item, int depth) {
    if (depth > kMaxDepth) return;
    if (!containers_.contains(item)) {
        if (const std::optional<int> kind = containerKind(item))
            follow(item, static_cast<Kind>(*kind));
    }
    const QList<QQuickItem*> children = item->childItems();
    for (QQuickItem* child : children)
        visit(child, depth + 1);
}

void QtQuickPages::follow(QQuickItem* item, Kind kind) {
    Container container;
    container.item = item;
    container.kind = kind;
    container.page = currentItemOf(container);
    container.changedAt = ++clock_;
    switch (kind) {
        case Kind::Stack:
        case Kind::Swipe:
            startOnChange(item, "currentItem", &timer_);
            break;
        case Kind::Layout:
            // Its current child is the one it shows: the others are made invisible.
            startOnChange(item, "currentIndex", &timer_);
            startOnChange(item, "count", &timer_);
            break;
        case Kind::Loader:
            startOnChange(item, "item", &timer_);
            break;
    }
    // Showing or hiding it, or anything around it, changes what shows.
    connect(item, &QQuickItem::visibleChanged, &timer_, [this] { scheduleUpdate(); });
    connect(item, &QObject::destroyed, this, [this](QObject* object) {
        containers_.remove(object);
        scheduleUpdate();
    });
    containers_.insert(item, container);
}

QQuickItem* QtQuickPages::currentItemOf(const Container& container) {
    QQuickItem* item = container.item.data();
    if (!item) return nullptr;
    switch (container.kind) {
        case Kind::Stack:
        case Kind::Swipe:
            return item->property("currentItem").value<QQuickItem*>();
        case Kind::Loader:
            return qobject_cast<QQuickItem*>(item->property("item").value<QObject*>());
        case Kind::Layout: {
            const QList<QQuickItem*> children = item->childItems();
            for (QQuickItem* child : children) {
                if (child->isVisible()) return child;
            }
            return nullptr;
        }
    }
    return nullptr;
}

void QtQuickPages::update() {
    bool changed = false;
    for (Container& container : containers_) {
        QQuickItem* page = currentItemOf(container);
        if (page == container.page.data()) continue;
        container.page = page;
        container.changedAt = ++clock_;
        changed = true;
    }
    // A new page may hold containers of its own.
    if (changed) {
        std::vector<QQuickWindow*> windows;
        for (const Container& container : containers_) {
            QQuickWindow* window = container.item ? container.item->window() : nullptr;
            if (window && std::find(windows.begin(), windows.end(), window) == windows.end())
                windows.push_back(window);
        }
        for (QQuickWindow* window : windows)
            scan(window);
    }
    if (changed_) changed_();
}

QQuickItem* QtQuickPages::currentPage(QQuickWindow* window) const {
    struct Candidate {
        QQuickItem* page;
        uint64_t changedAt;
    };
    std::vector<Candidate> pages;
    for (const Container& container : containers_) {
        QQuickItem* item = container.item.data();
        if (!item || item->window() != window) continue;
        QQuickItem* page = currentItemOf(container);
        if (!page || !shows(page)) continue;
        pages.push_back({page, container.changedAt});
    }
    const Candidate* best = nullptr;
    for (const Candidate& c : pages) {
        // An outer page gives way to a page shown inside it.
        const bool holdsAnother = std::any_of(pages.begin(), pages.end(), [&](const Candidate& o) {
            return o.page != c.page && isInside(o.page, c.page);
        });
        if (holdsAnother) continue;
        if (!best || c.changedAt > best->changedAt) best = &c;
    }
    return best ? best->page : nullptr;
}

std::shared_ptr<ViewController> QtQuickPages::controllerFor(QQuickItem* page) {
    auto it = controllers_.constFind(page);
    if (it != controllers_.constEnd()) return it.value();
    std::shared_ptr<ViewController> controller = QtQuickWindows::makeScreen(page);
    controllers_.insert(page, controller);
    connect(page, &QObject::destroyed, this,
            [this](QObject* object) { controllers_.remove(object); });
    return controller;
}

}  // namespace rivlo
