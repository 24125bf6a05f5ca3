#pragma once

#include "platform/qt/QtFrameSource.h"

namespace rivlo {

class QtQuickFrameCapture;
class QtQuickWindows;

// The frames of Qt Quick windows as the person saw them: the window worked in, then each Qt
// Quick window shown over it (a dialog or another window transient for it, QtQuickWindows) where
// it showed, bottom first, each taken by QtQuickFrameCapture with its own masks and cut to the
// window below. When a window over it cannot be drawn with its masks, the frame is dropped;
// when one is painted over whole, so is the frame. Frames read back from a hardware scene
// graph are finished on the frame's thread: the windows over one are asked for their frames
// with it, and their layers put over its own as it is finished. Main thread only.
class QtQuickWindowFrames : public QtFrameSource {
  public:
    QtQuickWindowFrames(QtQuickWindows& windows, QtQuickFrameCapture& capture)
        : windows_(windows), capture_(capture) {}

    bool draws(const View& window) const override;
    std::shared_ptr<QtFrame> capture(const View& window, const QRectF& target,
                                     QSize frameSize) override;

  private:
    QtQuickWindows& windows_;
    QtQuickFrameCapture& capture_;
};

}  // namespace rivlo
