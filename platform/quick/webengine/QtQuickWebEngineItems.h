#pragma once

#include "platform/qt/QtWebEngine.h"

namespace rivlo {

// The Qt Quick bridge's web view module on Qt WebEngine: Qt Quick's WebEngineView items
// (QQuickWebEngineView, whose C++ class is not public: reached through its properties, signals
// and invokable methods, and the QML engine for script results). Built as
// rivlo-quick-webengine.so, loaded when the first WebEngineView appears in a recorded window;
// programs of this build link its archive and provide it
// (QtWebEngine::provide(&QtQuickWebEngineItems::create, QtWebEngine::Kind::Quick)).
// The page has no object of its own here: the view stands for it. Main (GUI) thread only.
class QtQuickWebEngineItems final : public QtWebEngine {
  public:
    static QtWebEngine* create();

    QObject* page(QObject* view) const override;
    QUrl url(QObject* view) const override;
    QSizeF contentsSize(QObject* view) const override;
    QPointF scrollPosition(QObject* view) const override;
    void onPageChanges(QObject* view, QObject* context, std::function<void()> changed,
                       bool loads) override;
    void addScript(QObject* view, const QString& name, const QString& source,
                   unsigned world) override;
    void runJavaScript(QObject* view, const QString& source, unsigned world,
                       std::function<void(const QVariant&)> result) override;
};

}  // namespace rivlo
