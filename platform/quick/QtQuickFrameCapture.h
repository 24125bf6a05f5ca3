#pragma once

#include "platform/qt/QtFrameMasks.h"
#include "platform/qt/QtFrameSource.h"

#include <QImage>
#include <QPointer>
#include <QTransform>

#include <vector>

class QQuickWindow;

namespace rivlo {

class QtFrame;
class QtItemMasks;
class QtQuickReadback;
class QtQuickWindows;
class QtWebMasks;
struct QtWebArea;

// Takes frames of Qt Quick windows, their pixels as the window's scene graph renders them and
// the masks of its items worked out from the items exactly as that rendering shows them, with
// the same transform the pixels go through into the frame (uniformly scaled, never up).
//  - On the software scene graph (and any other not rendered through QRhi), on the main thread:
//    QQuickWindow::grabWindow, which first brings the items' layout up to date, the masks
//    worked out as its rendering begins; what the rendering leaves of earlier ones and may hold
//    masked items where they were is painted over too, or the window repainted whole
//    (QtSoftwareRepaints).
//  - On a hardware scene graph (OpenGL, Vulkan through QRhi), where a grab renders the scene a
//    second time and holds the main thread meanwhile: the frame the window renders next is read
//    back on the thread that renders it and finished on the recorder's thread
//    (QtQuickReadback); the main thread only asks for it.
// The WebEngineViews of a window grabbed on the main thread are left to their pages' masks,
// asked for right after the pixels are taken (QtWebMasks, when set); in a frame read back, they
// are painted over whole (their pages cannot be asked from the thread that renders).
// A frame whose pixels cannot be taken or trusted, or whose masks cannot be worked out, is
// dropped. Main thread only.
class QtQuickFrameCapture : public QtFrameSource {
  public:
    QtQuickFrameCapture(QtQuickWindows& windows, QtItemMasks& masks)
        : windows_(windows), masks_(masks) {}
    // Frames asked for from the windows' read-backs and not taken yet are dropped.
    ~QtQuickFrameCapture() override;

    // The pages of the WebEngineViews in grabbed windows are asked for their masks (null: the
    // views are painted over whole).
    void setWebPages(QtWebMasks* pages) { pages_ = pages; }

    bool draws(const View& window) const override;
    std::shared_ptr<QtFrame> capture(const View& window, const QRectF& target,
                                     QSize frameSize) override;

    // Where a window's pixels land in a frame, from the window's size when its frame is taken.
    struct Placement {
        QSize size;                // the window's, in points
        double ratio = 1;          // its device pixel ratio
        QTransform windowToFrame;  // its points to frame pixels
        QRectF clip;               // frame pixels
        bool opaque = false;       // its background is opaque
        // Works out where `window` lands in `target` of a frame of `frameSize` pixels, and the
        // masks of its items (an empty placement and dropped masks for a window without a size).
        // The main thread, or the scene graph's thread while it synchronises the items (the
        // main thread waiting).
        static Placement of(QQuickWindow* window, const QRectF& target, QSize frameSize);
        // WebEngineViews are added to `webViews` when given (their pages are asked for their
        // masks), else painted over whole.
        QtFrameMasks masks(QQuickWindow* window, const QtItemMasks& items, QSize frameSize,
                           std::vector<QtWebArea>* webViews = nullptr) const;
    };
    // Adds the window's pixels (`pixels`: its whole area, at any pixel size) with their masks
    // to `frame`. Any thread.
    static void addLayer(QtFrame& frame, QImage pixels, const Placement& placement,
                         QtFrameMasks masks);

  private:
    std::shared_ptr<QtFrame> grab(QQuickWindow* window, const QRectF& target, QSize frameSize);

    QtQuickWindows& windows_;
    QtItemMasks& masks_;
    std::vector<QPointer<QtQuickReadback>> readbacks_;
    QtWebMasks* pages_ = nullptr;
};

}  // namespace rivlo
