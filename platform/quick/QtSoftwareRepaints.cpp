#include "platform/quick/QtSoftwareRepaints.h"

#include "platform/qt/QtFrameCapture.h"
#include "platform/qt/QtFrameMasks.h"

#include <QMutexLocker>
#include <QQuickWindow>
#include <private/qquickwindow_p.h>
#include <private/qsgsoftwarerenderer_p.h>

namespace rivlo {

namespace {
// A carried region in more pieces than this is let go by repainting the window whole.
constexpr int kMaxPieces = 64;
// How long a painting waits at most for a frame to let the window's picture go.
constexpr double kReleaseWait = 0.02;

QSGRenderer* rendererOf(QQuickWindow* window) {
    return QQuickWindowPrivate::get(window)->renderer;
}

// The region the software renderer's next rendering repaints whatever changed (markDirty() sets
// it to the whole window), a private member: reached through an explicit instantiation, which
// may name it.
QRegion& toRepaint(QSGAbstractSoftwareRenderer& renderer);
template <QRegion QSGAbstractSoftwareRenderer::*Member>
struct ToRepaint {
    friend QRegion& toRepaint(QSGAbstractSoftwareRenderer& renderer) { return renderer.*Member; }
};
template struct ToRepaint<&QSGAbstractSoftwareRenderer::m_dirtyRegion>;

// The masks' areas in the window's pixels (rounded outwards).
QRegion inWindow(const QtQuickFrameCapture::Placement& placement, const QtFrameMasks& masks) {
    const QTransform frameToWindow = placement.windowToFrame.inverted();
    const QRect window(QPoint(0, 0), placement.size);
    QRegion region;
    for (const QRect& area : masks.areas())
        region += frameToWindow.mapRect(QRectF(area)).toAlignedRect() & window;
    return region;
}
}  // namespace

QtSoftwareRepaints::QtSoftwareRepaints(QQuickWindow* window) : QObject(window), window_(window) {
    // The basic software render loop renders on the main thread, the one that set heldBy_.
    QObject::connect(
        window, &QQuickWindow::beforeRendering, this,
        [this] {
            if (auto frame = std::exchange(heldBy_, {}).lock())
                frame->awaitPixelsLetGo(kReleaseWait);
        },
        Qt::DirectConnection);
    QObject::connect(
        window, &QQuickWindow::afterRendering, this, [this] { rendered(); }, Qt::DirectConnection);
    // The renderer is let go with the scene graph (a new one may have the same address), and the
    // picture it paints into may be let go when the window stops showing: what they held is
    // not known after.
    const auto forgetNow = [this] {
        QMutexLocker lock(&mutex_);
        forget();
    };
    QObject::connect(window, &QQuickWindow::sceneGraphInvalidated, this, forgetNow,
                     Qt::DirectConnection);
    QObject::connect(window, &QQuickWindow::sceneGraphAboutToStop, this, forgetNow,
                     Qt::DirectConnection);
    QObject::connect(window, &QWindow::visibleChanged, this, forgetNow, Qt::DirectConnection);
}

QtSoftwareRepaints* QtSoftwareRepaints::find(QQuickWindow* window) {
    for (QObject* child : window->children()) {
        if (auto* found = dynamic_cast<QtSoftwareRepaints*>(child)) return found;
    }
    return nullptr;
}

QtSoftwareRepaints* QtSoftwareRepaints::of(QQuickWindow* window) {
    QtSoftwareRepaints* found = find(window);
    return found ? found : new QtSoftwareRepaints(window);
}

void QtSoftwareRepaints::forget() {
    known_ = false;
    carried_ = QRegion();
}

void QtSoftwareRepaints::rendered() {
    const auto* software = dynamic_cast<const QSGSoftwareRenderer*>(rendererOf(window_));
    // What this rendering painted, in the window's pixels at a device pixel ratio of 1.
    const QRegion painted = software ? software->flushRegion() : QRegion();
    QMutexLocker lock(&mutex_);
    if (ours_) {
        ours_ = false;
        seen_ = true;
        painted_ = painted;
    } else if (!software) {
        otherUnknown_ = true;
    } else if (!painted.isEmpty()) {
        otherPainted_ += painted;
        // In too many pieces: its bounding rectangle is repainted.
        if (otherPainted_.rectCount() > kMaxPieces) otherPainted_ = otherPainted_.boundingRect();
    }
}

void QtSoftwareRepaints::begin(const QtQuickFrameCapture::Placement& placement,
                               const QtFrameMasks& masks, bool webPages) {
    QSGRenderer* renderer = rendererOf(window_);
    auto* abstract = dynamic_cast<QSGAbstractSoftwareRenderer*>(renderer);
    if (!abstract) return;
    const auto* software = dynamic_cast<const QSGSoftwareRenderer*>(renderer);
    QMutexLocker lock(&mutex_);
    whole_ = !known_ || webPages || !software || renderer != renderer_ || otherUnknown_ ||
             placement.ratio != 1.0 || placement.size != size_ ||
             placement.windowToFrame != windowToFrame_ || placement.clip != clip_ ||
             carried_.rectCount() > kMaxPieces;
    if (whole_) {
        abstract->markDirty();
        forget();
        forced_ = QRegion();
    } else {
        // What may hold masked content and the frame's masks do not cover, and what the
        // window's own renderings painted since the last frame (the scene as nobody's masks saw
        // it): repainted now.
        masked_ = inWindow(placement, masks);
        forced_ = (carried_ - masked_) | otherPainted_;
        toRepaint(*abstract) += forced_;
    }
    renderer_ = renderer;
    size_ = placement.size;
    windowToFrame_ = placement.windowToFrame;
    clip_ = placement.clip;
    otherPainted_ = QRegion();
    otherUnknown_ = false;
    webPages_ = webPages;
    ours_ = true;
    seen_ = false;
}

bool QtSoftwareRepaints::finish(const QtQuickFrameCapture::Placement& placement,
                                QtFrameMasks& masks) {
    QMutexLocker lock(&mutex_);
    const bool seen = seen_;
    ours_ = seen_ = false;
    const QRect window(QPoint(0, 0), placement.size);
    // Not a whole repaint although the renderer was told to.
    const bool trusted = seen && (!whole_ || (QRegion(window) - painted_).isEmpty());
    if (!trusted || !placement.windowToFrame.isInvertible() || webPages_ || masks.dropped() ||
        masks.coversAll()) {
        forget();
        return trusted;
    }
    if (whole_) masked_ = inWindow(placement, masks);
    // What earlier frames' masks covered and this rendering left as it was, and what the
    // window's own renderings painted and this one did not repaint although told to.
    const QRegion left = (carried_ | forced_) - painted_;
    for (const QRect& area : left)
        masks.add(QRectF(area), placement.windowToFrame, placement.clip);
    carried_ = masked_ | left;
    known_ = true;
    return true;
}

}  // namespace rivlo
