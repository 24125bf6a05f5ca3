#pragma once

#include <QObject>
#include <QVariant>

#include <functional>

namespace rivlo {

// A C++ function that a Qt signal (by its meta-method: Qt Quick's web view has no public C++
// class to connect to) or a QML script (as a JavaScript function) can call. Lives as the child
// of the object it serves. Main (GUI) thread only.
class QtQuickWebCallback : public QObject {
    Q_OBJECT
  public:
    QtQuickWebCallback(std::function<void(const QVariant&)> function, QObject* parent)
        : QObject(parent), function_(std::move(function)) {}

  public slots:
    // A signal's call (its arguments are not passed on).
    void call();
    // A script's call, with the value it passes.
    void deliver(const QVariant& value);

  private:
    std::function<void(const QVariant&)> function_;
};

}  // namespace rivlo
