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

    QObject* page(QWidget* view) const override;
    QUrl url(QWidget* view) const override;
    QSizeF contentsSize(QWidget* view) const override;
    QPointF scrollPosition(QWidget* view) const override;
    void onPageChanges(QWidget* view, QObject* context, std::function<void()> changed,
                       bool loads) override;
    void addScript(QWidget* view, const QString& name, const QString& source,
                   unsigned world) override;
    void runJavaScript(QWidget* view, const QString& source, unsigned world,
                       std::function<void(const QVariant&)> result) override;
};

}  // namespace rivlo
