#pragma once

#include "DemoRun.h"
#include "QtShopDemo.h"

namespace rivlo::demo {

// The demo on a real Qt Quick application: the reference collector on loopback, the QML shop
// (examples/qml-shop) shown offscreen on a QGuiApplication (no Qt Widgets) with the library
// recording through the Qt Quick bridge, the shop's scripted visit played with Qt's synthetic
// input events, then the visit's check of what the collector kept. Creates the process's
// QGuiApplication. Main thread.
class QmlShopDemo {
  public:
    static QtShopDemoResult run(const DemoOptions& options);
};

}  // namespace rivlo::demo
