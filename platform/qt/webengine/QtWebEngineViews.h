#pragma once

#include "platform/qt/QtWebEngine.h"

namespace rivlo {

// The bridge's web view module on Qt WebEngine (QWebEngineView, QWebEnginePage): built as
// rivlo-qt-webengine.so, loaded by librivlo-qt when the first web view appears; programs of this
// build link its archive and provide it (QtWebEngine::provide(&QtWebEngineViews::create)).
// Main (GUI) thread only.
class QtWebEngineViews final : public QtWebEngine {
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
