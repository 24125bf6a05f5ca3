#include "platform/quick/QtQuickWidgetScenes.h"

#include "foundation/Log.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtSoftwareRenderer.h"

#include <QEvent>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWidget>

#include <dlfcn.h>

namespace rivlo {

namespace {
// The offscreen window a QQuickWidget renders its scene in: QQuickWidget::quickWindow() of the
// Qt Quick Widgets library the program has loaded (it has one: it made the widget). This library
// does not link it, so a QML program without widgets never loads it. Null when it cannot be had
// (logged once): the widget is then painted over whole.
QQuickWindow* sceneWindowOf(QWidget* widget) {
    using QuickWindow = QQuickWindow* (*)(const QWidget*);
    static const QuickWindow quickWindow = [] {
        void* found = ::dlsym(RTLD_DEFAULT, "_ZNK12QQuickWidget11quickWindowEv");
        if (!found) {
            RVLog(
                "Rivlo: QtQuickPlatform: QQuickWidget::quickWindow() was not found in the "
                "program; QQuickWidgets are painted over whole");
        }
        return reinterpret_cast<QuickWindow>(found);
    }();
    // A QQuickWidget (or a subclass) is a QWidget first: the same address.
    if (!quickWindow || !widget->inherits("QQuickWidget")) return nullptr;
    return quickWindow(widget);
}

// The next rendering repaints the whole picture; false on another scene graph than the
// software one.
bool repaintWhole(QQuickWindow* window) {
    const QSGRendererInterface* api = window->rendererInterface();
    return api && api->graphicsApi() == QSGRendererInterface::Software &&
           QtSoftwareRenderer::repaintWhole(window);
}
}  // namespace

QtQuickWidgetScenes::~QtQuickWidgetScenes() {
    for (auto& [key, scene] : scenes_) {
        for (const auto& connection : scene->connections)
            QObject::disconnect(connection);
        if (scene->widget) scene->widget->removeEventFilter(this);
    }
}

QtQuickWidgetScenes::Scene* QtQuickWidgetScenes::follow(QWidget* widget) {
    auto found = scenes_.find(widget);
    if (found != scenes_.end()) return found->second->window ? found->second.get() : nullptr;
    QQuickWindow* window = sceneWindowOf(widget);
    auto scene = std::make_unique<Scene>();
    Scene* s = scene.get();
    s->widget = widget;
    s->window = window;
    scenes_.emplace(widget, std::move(scene));
    s->connections.push_back(QObject::connect(widget, &QObject::destroyed, this,
                                              [this](QObject* gone) { forget(gone); }));
    if (!window) return nullptr;
    // As rendering begins: the items synchronised, and Animators have moved their nodes.
    s->connections.push_back(QObject::connect(
        window, &QQuickWindow::beforeRendering, this,
        [this, s] {
            QQuickWindow* w = s->window;
            if (!repaintWhole(w)) {
                s->rendered.reset();
                return;
            }
            QtFrameMasks masks(QRect(QPoint(0, 0), w->size()));
            masks_.collect(w, QTransform(), QRectF(QPointF(0, 0), QSizeF(w->size())), masks);
            s->rendered = std::move(masks);
        },
        Qt::DirectConnection));
    widget->installEventFilter(this);
    // A rendering of its own, soon: until it is painted the whole widget is painted over.
    window->update();
    return s;
}

void QtQuickWidgetScenes::forget(const QObject* widget) {
    auto found = scenes_.find(widget);
    if (found == scenes_.end()) return;
    for (const auto& connection : found->second->connections)
        QObject::disconnect(connection);
    scenes_.erase(found);
}

bool QtQuickWidgetScenes::eventFilter(QObject* watched, QEvent* event) {
    // The widget paints the picture last rendered (a paint renders nothing itself).
    if (event->type() == QEvent::Paint) {
        auto found = scenes_.find(watched);
        if (found != scenes_.end()) found->second->painted = found->second->rendered;
    }
    return false;
}

void QtQuickWidgetScenes::collect(QWidget* widget, const QTransform& widgetToFrame,
                                  const QRectF& frameClip, QtFrameMasks& masks) {
    const Scene* scene = follow(widget);
    const Masks* painted = scene ? &scene->painted : nullptr;
    if (!painted || !*painted || (*painted)->dropped() || (*painted)->coversAll()) {
        masks.add(QRectF(QPointF(0, 0), QSizeF(widget->size())), widgetToFrame, frameClip);
        return;
    }
    for (const QRect& area : (*painted)->areas())
        masks.add(QRectF(area), widgetToFrame, frameClip);
}

}  // namespace rivlo
