#pragma once

// The QML shop: a small Qt Quick application (no Qt Widgets) with the screens a session
// recording cares about, its pages in a StackView. Its QML files are built into the program
// (resources under :/qml-shop/).

#include <QObject>
#include <QString>

#include <memory>

class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

namespace shop {

class QmlShop {
  public:
    // Loads the shop's window (shown, 390 x 844); `articleUrl` is the article's address.
    explicit QmlShop(const QString& articleUrl);
    ~QmlShop();

    // False when the QML did not load (the engine's warnings say why).
    bool loaded() const { return window_ != nullptr; }
    QQuickWindow* window() const { return window_; }
    // The item of the shown window named `objectName`, or null: the pages' items are found
    // while their page is on the stack.
    QQuickItem* item(const char* objectName) const;
    // The page on top of the stack, or null.
    QQuickItem* currentPage() const;
    // True while a page is being pushed or popped.
    bool busy() const;

  private:
    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow* window_ = nullptr;
};

// The article next to the program, or in the source folder, as a file address.
QString defaultArticleUrl();

}  // namespace shop
