#pragma once

#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>

class QObject;
class QWidget;

namespace rivlo {

// What the bridge needs of Qt WebEngine, behind a module of its own (rivlo-qt-webengine.so,
// platform/qt/webengine), so that a Widgets program without a web view never loads Qt
// WebEngine: the module is loaded when the bridge meets the first web view, by which time the
// program has loaded Qt WebEngine itself. Web views are QWidgets here; whether a widget is one
// is told from its class names.
//
// When the module cannot be had (not installed next to librivlo-qt), one line says so and web
// views are treated as content the bridge cannot look into: painted over whole, their pages not
// captured.
//
// Main (GUI) thread only.
class QtWebEngine {
  public:
    virtual ~QtWebEngine() = default;

    // The page a web view shows (an object of its own, for identity), or null.
    virtual QObject* page(QWidget* view) const = 0;
    virtual QUrl url(QWidget* view) const = 0;
    // The page's contents size and scroll position, in the view's points.
    virtual QSizeF contentsSize(QWidget* view) const = 0;
    virtual QPointF scrollPosition(QWidget* view) const = 0;
    // Calls `changed` whenever the page scrolls, changes size or address (or, with `loads`,
    // finishes loading), for as long as `context` lives.
    virtual void onPageChanges(QWidget* view, QObject* context, std::function<void()> changed,
                               bool loads) = 0;
    // Runs `source` in every document of the page from its creation on, in script world
    // `world`, and once now in the document there is.
    virtual void addScript(QWidget* view, const QString& name, const QString& source,
                           unsigned world) = 0;
    // Runs `source` in the page's document, in world `world`; `result` is called with its value
    // (an invalid QVariant when there is no page).
    virtual void runJavaScript(QWidget* view, const QString& source, unsigned world,
                               std::function<void(const QVariant&)> result) = 0;

    // Whether the object is a web view (a QWebEngineView or a subclass), told without Qt
    // WebEngine.
    static bool isWebView(const QObject* object);

    // The module, loaded on first use (from librivlo-qt's own folder, then the loader's path),
    // or null when it cannot be had (logged once).
    static QtWebEngine* module();
    // Hands over how to make the module instead of loading it: programs of this build that link
    // the module's archive and the bridge's.
    using Factory = QtWebEngine* (*)();
    static void provide(Factory factory);

    static constexpr const char* kModuleFile = "rivlo-qt-webengine.so";
    static constexpr const char* kEntryPoint = "rivlo_qt_webengine_module";
};

}  // namespace rivlo
