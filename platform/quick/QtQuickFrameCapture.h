#pragma once

#include "platform/qt/QtFrameSource.h"

namespace rivlo {

class QtItemMasks;
class QtQuickWindows;

// Takes frames of Qt Quick windows on the main thread: the window's pixels as its scene graph
// renders them now (QQuickWindow::grabWindow, which first brings the items' layout up to date),
// then, with no event handled in between, the masks of its items as they are after that
// rendering, with the same transform the pixels go through into the frame (uniformly scaled,
// never up). On the software scene graph every frame is a repaint of the whole window, so no
// pixel is left over from an earlier frame. A frame whose pixels cannot be taken or trusted, or
// whose masks cannot be worked out, is dropped. Main thread only.
class QtQuickFrameCapture : public QtFrameSource {
  public:
    QtQuickFrameCapture(QtQuickWindows& windows, QtItemMasks& masks)
        : windows_(windows), masks_(masks) {}

    bool draws(const View& window) const override;
    std::shared_ptr<QtFrame> capture(const View& window, const QRectF& target,
                                     QSize frameSize) override;

  private:
    QtQuickWindows& windows_;
    QtItemMasks& masks_;
};

}  // namespace rivlo
