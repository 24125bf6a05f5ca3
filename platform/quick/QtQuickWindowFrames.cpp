#include "platform/quick/QtQuickWindowFrames.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtQuickFrameCapture.h"
#include "platform/quick/QtQuickWindows.h"
#include "platform/quick/QtSoftwareRepaints.h"

#include <QQuickWindow>

namespace rivlo {

bool QtQuickWindowFrames::draws(const View& window) const {
    return capture_.draws(window);
}

std::shared_ptr<QtFrame> QtQuickWindowFrames::capture(const View& window, const QRectF& target,
                                                      QSize frameSize) {
    std::shared_ptr<QtFrame> frame = capture_.capture(window, target, frameSize);
    QQuickWindow* main = windows_.quickWindowFor(&window);
    if (!main || frame->dropped() || frame->layers().empty()) return frame;
    const QTransform mainToFrame = QtFrameCapture::windowToFrame(main->size(), target);
    const QRectF mainClip = frame->layers().front().clip;
    const QPoint origin = main->mapToGlobal(QPoint(0, 0));
    for (QQuickWindow* over : windows_.windowsOver(main)) {
        View* root = windows_.rootViewFor(over);
        if (!root || over->width() <= 0 || over->height() <= 0) continue;
        const QPoint at = over->mapToGlobal(QPoint(0, 0)) - origin;
        const QRectF overTarget = mainToFrame.mapRect(QRectF(at, QSizeF(over->size())));
        if ((overTarget & mainClip).isEmpty()) continue;
        std::shared_ptr<QtFrame> part = capture_.capture(*root, overTarget, frameSize);
        if (part->dropped()) {
            frame->outcome().drop("a window over it: " + part->outcome().reason());
            return frame;
        }
        // The window over it waits for this frame before painting on, if it shares its picture.
        if (QtSoftwareRepaints* repaints = QtSoftwareRepaints::find(over))
            repaints->handOver(part.get(), frame);
        if (part->outcome().coversAll())
            frame->outcome().coverAll("a window over it: " + part->outcome().reason());
        for (QtFrame::Layer& layer : part->layers()) {
            layer.clip &= mainClip;
            frame->layers().push_back(std::move(layer));
        }
    }
    return frame;
}

}  // namespace rivlo
