#pragma once

#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>

class QObject;

namespace rivlo {

// What the bridges need of Qt WebEngine, behind modules of their own, so that a program without
// a web view never loads Qt WebEngine: rivlo-qt-webengine.so (platform/qt/webengine) for
// QWebEngineView widgets, rivlo-quick-webengine.so (platform/quick/webengine) for Qt Quick's
// WebEngineView items. A module is loaded when a bridge meets the first web view of its kind, by
// which time the program has loaded Qt WebEngine itself. Whether an object is a web view is told
// from its class names.
//
// When a module cannot be had (not installed next to librivlo-qt), one line says so and its web
// views are treated as content the bridge cannot look into: painted over whole, their pages not
// captured.
//
// Main (GUI) thread only.
class QtWebEngine {
  public:
    // The kinds of web views, each served by a module of its own.
    enum class Kind { Widget, Quick };

    virtual ~QtWebEngine() = default;

    // The page a web view shows (an object of its own, for identity; the view itself when the
    // page has no object of its own), or null.
    virtual QObject* page(QObject* view) const = 0;
    virtual QUrl url(QObject* view) const = 0;
    // The page's contents size and scroll position, in the view's points.
    virtual QSizeF contentsSize(QObject* view) const = 0;
    virtual QPointF scrollPosition(QObject* view) const = 0;
    // Calls `changed` whenever the page scrolls, changes size or address (or, with `loads`,
    // finishes loading), for as long as `context` lives.
    virtual void onPageChanges(QObject* view, QObject* context, std::function<void()> changed,
                               bool loads) = 0;
    // Runs `source` in every document of the page from its creation on, in script world
    // `world`, and once now in the document there is.
    virtual void addScript(QObject* view, const QString& name, const QString& source,
                           unsigned world) = 0;
    // Runs `source` in the page's document, in world `world`; `result` is called with its value
    // (an invalid QVariant when there is no page or no answer can come).
    virtual void runJavaScript(QObject* view, const QString& source, unsigned world,
                               std::function<void(const QVariant&)> result) = 0;

    // Whether the object is a web view of that kind (a QWebEngineView, a Qt Quick
    // WebEngineView, or a subclass), told without Qt WebEngine.
    static bool isWebView(const QObject* object, Kind kind = Kind::Widget);

    // The module of a kind, loaded on first use (from librivlo-qt's own folder, then the
    // loader's path), or null when it cannot be had (logged once).
    static QtWebEngine* module(Kind kind = Kind::Widget);
    // Hands over how to make a module instead of loading it: programs of this build that link
    // the module's archive and the bridge's.
    using Factory = QtWebEngine* (*)();
    static void provide(Factory factory, Kind kind = Kind::Widget);

    static constexpr const char* kModuleFile = "rivlo-qt-webengine.so";
    static constexpr const char* kEntryPoint = "rivlo_qt_webengine_module";
    static constexpr const char* kQuickModuleFile = "rivlo-quick-webengine.so";
    static constexpr const char* kQuickEntryPoint = "rivlo_quick_webengine_module";
};

}  // namespace rivlo
