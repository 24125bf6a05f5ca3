#include "platform/quick/QtQuickWindowFrames.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtQuickFrameCapture.h"
#include "platform/quick/QtQuickWindows.h"
#include "platform/quick/QtSoftwareRepaints.h"

#include <QQuickWindow>

#include <vector>

namespace rivlo {

bool QtQuickWindowFrames::draws(const View& window) const {
    return capture_.draws(window);
}

namespace {
// Puts the layers of a window over the frame's window into the frame, cut to that window.
// False when the frame is dropped for it.
bool addOver(QtFrame& frame, QtFrame& part, const QRectF& mainClip) {
    if (part.dropped()) {
        frame.outcome().drop("a window over it: " + part.outcome().reason());
        return false;
    }
    if (part.outcome().coversAll())
        frame.outcome().coverAll("a window over it: " + part.outcome().reason());
    for (QtFrame::Layer& layer : part.layers()) {
        layer.clip &= mainClip;
        frame.layers().push_back(std::move(layer));
    }
    return true;
}
}  // namespace

std::shared_ptr<QtFrame> QtQuickWindowFrames::capture(const View& window, const QRectF& target,
                                                      QSize frameSize) {
    std::shared_ptr<QtFrame> frame = capture_.capture(window, target, frameSize);
    QQuickWindow* main = windows_.quickWindowFor(&window);
    if (!main || frame->dropped()) return frame;
    // A frame read back from a hardware scene graph has its layers only once finished: the
    // windows over it are asked for theirs now and added after its own then.
    const bool later = frame->pending();
    if (frame->layers().empty() && !later) return frame;
    const QTransform mainToFrame = QtFrameCapture::windowToFrame(main->size(), target);
    const QRectF mainClip = QtQuickFrameCapture::Placement::of(main, target, frameSize).clip;
    const QPoint origin = main->mapToGlobal(QPoint(0, 0));
    std::vector<std::shared_ptr<QtFrame>> parts;
    for (QQuickWindow* over : windows_.windowsOver(main)) {
        View* root = windows_.rootViewFor(over);
        if (!root || over->width() <= 0 || over->height() <= 0) continue;
        const QPoint at = over->mapToGlobal(QPoint(0, 0)) - origin;
        const QRectF overTarget = mainToFrame.mapRect(QRectF(at, QSizeF(over->size())));
        if ((overTarget & mainClip).isEmpty()) continue;
        std::shared_ptr<QtFrame> part = capture_.capture(*root, overTarget, frameSize);
        if (later || part->pending()) {
            parts.push_back(std::move(part));
            continue;
        }
        if (!addOver(*frame, *part, mainClip)) return frame;
        // The window over it waits for this frame before painting on, if it shares its picture.
        if (QtSoftwareRepaints* repaints = QtSoftwareRepaints::find(over))
            repaints->handOver(part.get(), frame);
    }
    if (!parts.empty()) {
        frame->setFinish([own = frame->takeFinish(), parts = std::move(parts), mainClip](
                             QtFrame& f, bool mayWait) {
            if (own) own(f, mayWait);
            for (const std::shared_ptr<QtFrame>& part : parts) {
                if (f.dropped()) return;
                part->finish(mayWait);
                if (!addOver(f, *part, mainClip)) return;
            }
        });
    }
    return frame;
}

}  // namespace rivlo
