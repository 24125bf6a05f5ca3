#include "platform/qt/webengine/QtWebEngineViews.h"

#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

namespace rivlo {

namespace {

QWebEnginePage* pageOf(QObject* view) {
    auto* web = qobject_cast<QWebEngineView*>(view);
    return web ? web->page() : nullptr;
}

}  // namespace

QtWebEngine* QtWebEngineViews::create() {
    return new QtWebEngineViews;
}

QObject* QtWebEngineViews::page(QObject* view) const {
    return pageOf(view);
}

QUrl QtWebEngineViews::url(QObject* view) const {
    auto* web = qobject_cast<QWebEngineView*>(view);
    return web ? web->url() : QUrl();
}

QSizeF QtWebEngineViews::contentsSize(QObject* view) const {
    QWebEnginePage* page = pageOf(view);
    return page ? page->contentsSize() : QSizeF();
}

QPointF QtWebEngineViews::scrollPosition(QObject* view) const {
    QWebEnginePage* page = pageOf(view);
    return page ? page->scrollPosition() : QPointF();
}

void QtWebEngineViews::onPageChanges(QObject* view, QObject* context, std::function<void()> changed,
                                     bool loads) {
    QWebEnginePage* page = pageOf(view);
    if (!page) return;
    QObject::connect(page, &QWebEnginePage::scrollPositionChanged, context, changed);
    QObject::connect(page, &QWebEnginePage::contentsSizeChanged, context, changed);
    QObject::connect(page, &QWebEnginePage::urlChanged, context, changed);
    if (loads) QObject::connect(page, &QWebEnginePage::loadFinished, context, changed);
}

void QtWebEngineViews::addScript(QObject* view, const QString& name, const QString& source,
                                 unsigned world) {
    QWebEnginePage* page = pageOf(view);
    if (!page) return;
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(world);
    script.setRunsOnSubFrames(false);
    page->scripts().insert(script);
    // The document there now was created before the script was known.
    page->runJavaScript(source, world);
}

void QtWebEngineViews::runJavaScript(QObject* view, const QString& source, unsigned world,
                                     std::function<void(const QVariant&)> result) {
    QWebEnginePage* page = pageOf(view);
    if (!page) {
        if (result) result(QVariant());
        return;
    }
    page->runJavaScript(source, world, [result](const QVariant& value) {
        if (result) result(value);
    });
}

}  // namespace rivlo

// The module's entry point (rivlo-qt-webengine.so exports it and nothing else).
extern "C" rivlo::QtWebEngine* rivlo_qt_webengine_module() {
    return rivlo::QtWebEngineViews::create();
}
