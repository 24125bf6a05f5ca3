#pragma once

#include "DemoRun.h"

#include <string>
#include <vector>

namespace rivlo::demo {

struct QtShopDemoResult {
    bool collectorStarted = false;
    std::string collectorDir;
    // What the frames' pixels are in points: the window point for pixel, in frames as wide as
    // the window rounded up to 16 pixels.
    Size screen{400, 844};
    std::vector<std::string> problems;  // what did not arrive or did not match
};

// The demos on real Qt applications: the widget shop here, the QML shop in QmlShopDemo.
// The demo on a real Qt application: the reference collector on loopback, the Qt shop
// (examples/qt-shop) shown offscreen with the library recording through the Qt bridge, the
// shop's scripted visit played with Qt's synthetic input events, then the visit's check of what
// the collector kept. Creates the process's QApplication. Main thread.
class QtShopDemo {
  public:
    static QtShopDemoResult run(const DemoOptions& options);

    // What both shops' demos do before their application starts: the collector on loopback for
    // `appName` (serving until the process ends; false in `result` when it did not start), the
    // library pointed at it, and the Linux device installed with its store in the demo's folder.
    static void startCollectorAndDevice(const DemoOptions& options, const std::string& appName,
                                        const std::string& applicationIdentifier,
                                        QtShopDemoResult& result);
    // The library's start, then waits until the collector verified the application.
    static bool startRecording(const DemoOptions& options, QtShopDemoResult& result);
};

}  // namespace rivlo::demo
