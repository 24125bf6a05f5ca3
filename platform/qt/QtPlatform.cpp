#include "rivlo/qt/QtPlatform.h"

#include "foundation/Log.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtShadowTree.h"

#include <QApplication>
#include <QThread>

namespace rivlo {

void QtPlatform::install(QApplication& app) {
    if (QThread::currentThread() != app.thread()) {
        RVLog("QtPlatform: install() must be called on the application's thread; not installed");
        return;
    }
    QtBridge::install(app);
}

void QtPlatform::occludeSensitiveWidget(QWidget* widget) {
    if (!widget) {
        RVLog("QtPlatform: occludeSensitiveWidget: no widget given; nothing is occluded");
        return;
    }
    QtBridge* bridge = QtBridge::current();
    if (!bridge) {
        RVLog("QtPlatform: occludeSensitiveWidget: install() was not called; nothing is occluded");
        return;
    }
    bridge->tree().occlude(widget);
}

}  // namespace rivlo
