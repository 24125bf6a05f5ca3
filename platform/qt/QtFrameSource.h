#pragma once

#include <QRectF>
#include <QSize>

#include <memory>

namespace rivlo {

class QtFrame;
class View;

// Windows that a bridge other than the widgets' shows (Qt Quick windows): QtGraphics asks each
// source whether it draws a window's view, and takes that window's frame from it, masks worked
// out as its pixels are taken. Main thread only.
class QtFrameSource {
  public:
    virtual ~QtFrameSource() = default;
    // Whether `window` (a window's view) stands for one of this source's windows.
    virtual bool draws(const View& window) const = 0;
    // The frame of that window drawn into `target` (frame pixels) of a frame of `frameSize`
    // pixels; a dropped frame when its masks cannot be worked out.
    virtual std::shared_ptr<QtFrame> capture(const View& window, const QRectF& target,
                                             QSize frameSize) = 0;
};

}  // namespace rivlo
