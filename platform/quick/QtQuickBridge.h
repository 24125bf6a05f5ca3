#pragma once

#include <memory>

class QGuiApplication;

namespace rivlo {

class QtItemMasks;
class QtQuickFrameCapture;
class QtQuickInput;
class QtQuickWebViews;
class QtQuickWidgetScenes;
class QtQuickWindowFrames;
class QtQuickWindows;

// The Qt Quick bridge, on top of the Qt bridge (which it installs when the program has not):
// the Qt Quick windows become windows of the recording (QtQuickWindows), their frames are taken
// by QtQuickFrameCapture through the Qt bridge's graphics, with the masks QtItemMasks works out,
// and their touches and clicks become the library's touch sequence (QtQuickInput); their
// WebEngineViews are web views of the recording (QtQuickWebViews). The items of QQuickWidgets in
// the Qt bridge's widget windows are masked by the same rules (QtQuickWidgetScenes).
// One at a time, created by QtQuickPlatform::install; the library's close takes it out (its
// event filters and windows gone), and a later install creates it again. Main (GUI) thread
// only.
class QtQuickBridge {
  public:
    static QtQuickBridge* install(QGuiApplication& app);
    // The installed bridge, or null.
    static QtQuickBridge* current();
    // Takes the installed bridge out (close does it). Main thread.
    static void uninstall();
    ~QtQuickBridge();

    QtItemMasks& itemMasks() { return *masks_; }
    QtQuickWindows& windows() { return *windows_; }
    QtQuickInput& input() { return *input_; }
    QtQuickWebViews& webViews() { return *webViews_; }

  private:
    explicit QtQuickBridge(QGuiApplication& app);

    std::unique_ptr<QtItemMasks> masks_;
    std::unique_ptr<QtQuickWindows> windows_;
    std::unique_ptr<QtQuickFrameCapture> capture_;
    std::unique_ptr<QtQuickInput> input_;
    std::unique_ptr<QtQuickWidgetScenes> widgetScenes_;
    std::shared_ptr<QtQuickWebViews> webViews_;
    std::unique_ptr<QtQuickWindowFrames> frames_;
};

}  // namespace rivlo
