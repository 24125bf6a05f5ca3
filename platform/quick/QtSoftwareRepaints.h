#pragma once

#include "platform/quick/QtQuickFrameCapture.h"

#include <QMutex>
#include <QObject>
#include <QRegion>

#include <memory>

class QQuickWindow;
class QSGRenderer;

namespace rivlo {

class QtFrame;
class QtFrameMasks;

// What Qt's software renderer paints of one window between its recorded frames, so that a frame
// need not repaint the whole window. The renderer repaints only what it finds changed, and past
// the edge of an opaque item (a popup opened over a moving item) it can leave pixels holding what
// an earlier rendering drew there: a masked item where it no longer is, outside its mask. So
// the region of the picture that may hold masked content is carried from frame to frame, in the
// window's pixels: a frame's masks, and the region at the frame before less what the frame's
// rendering painted (what the renderer painted holds the scene as the frame's masks saw it;
// what it did not paint holds what it held before). The frame's rendering is told to repaint
// what of that region its own masks do not cover (an item no longer masked shows again), and
// what the window's own renderings painted between frames (an animation running: drawn with no
// masks worked out); what it still does not repaint of them is painted over. The window is
// repainted whole when what its picture holds cannot be told: its first frame, a change of its
// size, scale or place in the frame, a device pixel ratio other than 1, another renderer, the
// window hidden or shown, a frame whose masks were dropped or cover all, a carried region in too
// many pieces, web pages shown in this frame or the one before. Made for a window the first time it
// is recorded, a child of it (through private Qt APIs, hence Qt6::QuickPrivate). Its renderings are
// followed on the thread that renders them.
class QtSoftwareRepaints : public QObject {
  public:
    // The window's, made the first time. Main thread.
    static QtSoftwareRepaints* of(QQuickWindow* window);
    // The window's, or null before its first frame.
    static QtSoftwareRepaints* find(QQuickWindow* window);

    // As the recorded frame's rendering begins (beforeRendering, on the thread that renders,
    // the main thread waiting in grabWindow()), with where the frame's pixels land and its
    // masks: tells the renderer what to repaint besides what changed, or to repaint the whole
    // window when needed. `webPages`: the window shows web pages,
    // whose masks come from the pages after the rendering (what a page drew where it no longer
    // is cannot be told): this frame and the next are whole repaints. Nothing when the window's
    // renderer is not Qt's software renderer (finish() then drops the frame).
    void begin(const QtQuickFrameCapture::Placement& placement, const QtFrameMasks& masks,
               bool webPages);
    // After grabWindow() returned, with the same masks: adds what earlier renderings may have
    // left of masked content and the renderer did not repaint, and keeps the region for the
    // next frame. False when the frame must be dropped (its rendering was not seen or not by Qt's
    // software renderer, or did not repaint the whole window when told to). Main thread.
    bool finish(const QtQuickFrameCapture::Placement& placement, QtFrameMasks& masks);
    // `frame` shares the window's picture: before the window paints again, it waits a moment
    // for the frame's thread to let the picture go, then the frame copies it (the painting
    // would copy it otherwise, and pay for a fresh buffer too). Main thread.
    void heldBy(const std::shared_ptr<QtFrame>& frame) { heldBy_ = frame; }
    // The picture `from` shares is now `to`'s (its layers moved there). Main thread.
    void handOver(const QtFrame* from, const std::shared_ptr<QtFrame>& to) {
        if (heldBy_.lock().get() == from) heldBy_ = to;
    }

  private:
    explicit QtSoftwareRepaints(QQuickWindow* window);
    void rendered();  // any rendering of the window, on the thread that renders
    void forget();    // the next frame repaints whole; mutex_ held

    QQuickWindow* window_;
    QMutex mutex_;
    // Guarded by mutex_ (renderings may come on the scene graph's thread).
    bool known_ = false;  // carried_ holds what the picture may hold of masked content
    QRegion carried_;     // window pixels
    QSize size_;          // the placement of the last frame
    QTransform windowToFrame_;
    QRectF clip_;
    const QSGRenderer* renderer_ = nullptr;  // the renderer of the last frame
    QRegion otherPainted_;           // what renderings since then painted, masks never worked out
    bool otherUnknown_ = false;      // one of them by another renderer
    QRegion forced_;                 // what the frame's rendering was told to repaint besides
    QRegion masked_;                 // the frame's masks, window pixels
    bool ours_ = false;              // the next rendering is the frame's
    bool whole_ = false;             // the frame's rendering was made to repaint the whole window
    bool webPages_ = false;          // the frame shows web pages
    bool seen_ = false;              // the frame's rendering was seen
    QRegion painted_;                // what it painted, window pixels
    std::weak_ptr<QtFrame> heldBy_;  // the last frame sharing the picture (main thread)
};

}  // namespace rivlo
