#pragma once

#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtWebMasks.h"

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QTransform>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class QWidget;

namespace rivlo {

class QtShadowTree;
class QtWidgetMasks;

// One frame as the person saw it, taken on the main thread and finished on any thread: the
// windows drawn into it (the window worked in, then its dialogs, menus and popups where they
// showed over it), each with the masks worked out for it when its pixels were taken, and the
// web pages in it whose masks their pages are still reporting.
class QtFrame {
  public:
    struct Layer {
        QImage pixels;        // shared with the window's backing store until drawn
        QTransform toFrame;   // the pixels' coordinates to frame pixels
        QRectF clip;          // frame pixels
        bool opaque = false;  // every pixel of it is opaque
        QtFrameMasks masks;   // painted over it, before the next layer
        std::vector<QtWebFramePart> web;
    };

    explicit QtFrame(QSize size) : size_(size), outcome_(QRect(QPoint(0, 0), size)) {}
    QtFrame(const QtFrame&) = delete;
    QtFrame& operator=(const QtFrame&) = delete;
    QSize size() const { return size_; }
    std::vector<Layer>& layers() { return layers_; }
    // The frame as a whole: painted over all of it, or dropped.
    QtFrameMasks& outcome() { return outcome_; }
    bool dropped() const { return outcome_.dropped(); }
    // Whether its first window's opaque pixels cover every pixel of the frame, point for pixel.
    bool coversWholeFrame() const;

    // A frame whose pixels come later (a window's frame read back on the thread that renders
    // it): `finish` adds its layers, or drops the frame, on the thread that draws the frame,
    // before anything else is done with it; it is told whether it may wait there (not on the
    // main thread, which the window may need to render). Main thread, before the frame is
    // handed over.
    void setFinish(std::function<void(QtFrame&, bool mayWait)> finish) {
        finish_ = std::move(finish);
    }
    // Whether setFinish gave something not run yet.
    bool pending() const { return static_cast<bool>(finish_); }
    // What setFinish gave, not run: the caller runs it (main thread, before the frame is
    // handed over).
    std::function<void(QtFrame&, bool)> takeFinish() { return std::exchange(finish_, nullptr); }
    // Runs what setFinish gave, once. The thread that draws the frame.
    void finish(bool mayWait) {
        if (auto f = std::exchange(finish_, nullptr)) f(*this, mayWait);
    }

    // Draws the frame into `image` (32-bit premultiplied, the frame's size, the background
    // already in it) and paints its masks. The windows' pixels are let go of first thing (the
    // window worked in drawn, the small ones over it copied), before waiting for the web pages'
    // answers, unless `mayWait` is false (then pages not yet answered are painted over whole).
    // Any thread, once.
    void render(QImage& image, bool mayWait);

    // The layers' pixels are shared with the windows' backing stores until the frame lets them
    // go: a window painting meanwhile would copy its whole buffer on the main thread (and pay
    // for a fresh one). Main thread, back in the event loop after the frame was taken: waits up
    // to `seconds` for the frame's thread to let them go, then copies what is still shared
    // itself, which costs the main thread a copy, not a fresh buffer too.
    void awaitPixelsLetGo(double seconds);

  private:
    QSize size_;
    QtFrameMasks outcome_;
    std::vector<Layer> layers_;
    std::function<void(QtFrame&, bool)> finish_;
    // Guards the layers' pixels and `letGo_` until they are let go of.
    mutable std::mutex pixelsMutex_;
    std::condition_variable pixelsLetGo_;
    bool letGo_ = false;
};

// Takes frames of the application's windows (Widgets). Main thread only.
class QtFrameCapture {
  public:
    QtFrameCapture(QtShadowTree& tree, QtWidgetMasks& widgets, QtWebMasks& web)
        : tree_(tree), widgets_(widgets), web_(web) {}

    // The frame of the window `main` with the windows shown over it, drawn into `target` (frame
    // pixels) of a frame of `frameSize` pixels: uniformly scaled, never up, so that a window
    // that grew since the frame size was set fits whole and one that did not is drawn point
    // for pixel; the masks follow the same transform.
    std::shared_ptr<QtFrame> capture(QWidget* main, const QRectF& target, QSize frameSize);
    // The same for one widget and what is drawn inside it (a proxy view drawn on its own).
    std::shared_ptr<QtFrame> captureWidget(QWidget* widget, const QRectF& target, QSize frameSize);

    // Where a window's points land in a frame whose target rectangle is `target`.
    static QTransform windowToFrame(QSize window, const QRectF& target);

    QtWidgetMasks& widgets() { return widgets_; }
    QtWebMasks& web() { return web_; }

  private:
    void addLayer(QtFrame& frame, QWidget* widget, QImage pixels, const QTransform& pointsToFrame,
                  const QRectF& clip, bool wholeMasked);

    QtShadowTree& tree_;
    QtWidgetMasks& widgets_;
    QtWebMasks& web_;
};

}  // namespace rivlo
