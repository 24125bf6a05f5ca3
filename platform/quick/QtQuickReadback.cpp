#include "platform/quick/QtQuickReadback.h"

#include "foundation/Log.h"
#include "platform/qt/QtFrameCapture.h"
#include "platform/quick/QtItemMasks.h"
#include "platform/quick/QtQuickFrameCapture.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <private/qrhi_p.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <string>
#include <utility>

namespace rivlo {

namespace {

// The swap chain's pixels as 32-bit premultiplied pixels (RGB32 when the window is opaque),
// top row first; a null image for a format or size that is not known.
QImage toImage(const QRhiReadbackResult& result, bool bottomUp, bool opaque) {
    const QSize size = result.pixelSize;
    const bool bgra = result.format == QRhiTexture::BGRA8;
    if (size.isEmpty() || (!bgra && result.format != QRhiTexture::RGBA8)) return QImage();
    const qsizetype rowBytes = qsizetype(size.width()) * 4;
    if (result.data.size() < rowBytes * size.height()) return QImage();
    QImage image(size, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    const uint32_t alpha = opaque ? 0xff000000u : 0;
    for (int y = 0; y < size.height(); ++y) {
        const auto* from = reinterpret_cast<const uchar*>(result.data.constData()) +
                           rowBytes * (bottomUp ? size.height() - 1 - y : y);
        auto* to = reinterpret_cast<uint32_t*>(image.scanLine(y));
        if (bgra) {
            // B, G, R, A in memory: the layout of a 32-bit ARGB pixel here.
            std::memcpy(to, from, static_cast<size_t>(rowBytes));
            if (alpha) {
                for (int x = 0; x < size.width(); ++x)
                    to[x] |= alpha;
            }
        } else {
            for (int x = 0; x < size.width(); ++x, from += 4) {
                to[x] = (uint32_t(from[3]) << 24 | uint32_t(from[0]) << 16 |
                         uint32_t(from[1]) << 8 | uint32_t(from[2])) |
                        alpha;
            }
        }
    }
    return image;
}

QRhi* rhiOf(QQuickWindow* window) {
    QSGRendererInterface* renderer = window->rendererInterface();
    return renderer ? static_cast<QRhi*>(
                          renderer->getResource(window, QSGRendererInterface::RhiResource))
                    : nullptr;
}

}  // namespace

// One recorded frame asked of the window, from the main thread's asking to the recorder's
// thread drawing it. What the render thread writes in it (placement, masks, the read-back) is
// written before its stage moves on under its mutex, and read after.
struct QtQuickReadback::Ticket {
    enum class Stage { Asked, Synced, Reading, Read, Failed };

    Ticket(const QRectF& target, QSize frameSize) : target(target), frameSize(frameSize) {}

    const QRectF target;
    const QSize frameSize;
    QtQuickFrameCapture::Placement placement;
    QtFrameMasks masks;
    bool bottomUp = false;
    QRhiReadbackResult result;

    std::mutex mutex;
    std::condition_variable done;
    Stage stage = Stage::Asked;  // guarded by mutex
    std::string failure;         // guarded by mutex

    bool failed() {
        std::lock_guard lock(mutex);
        return stage == Stage::Failed;
    }
    bool read() {
        std::lock_guard lock(mutex);
        return stage == Stage::Read;
    }
    void moveTo(Stage next) {
        {
            std::lock_guard lock(mutex);
            if (stage == Stage::Failed) return;
            stage = next;
        }
        done.notify_all();
    }
    void fail(const std::string& why) {
        {
            std::lock_guard lock(mutex);
            if (stage == Stage::Read || stage == Stage::Failed) return;
            stage = Stage::Failed;
            failure = why;
        }
        done.notify_all();
    }

    // The thread drawing the recorded frame: waits for the pixels (when it may), then adds them
    // with their masks, or drops the frame.
    void finish(QtFrame& frame, bool mayWait) {
        {
            std::unique_lock lock(mutex);
            if (mayWait) {
                done.wait_for(lock, std::chrono::duration<double>(kWaitSeconds),
                              [this] { return stage == Stage::Read || stage == Stage::Failed; });
            }
            if (stage != Stage::Read) {
                if (stage != Stage::Failed) {
                    failure = mayWait ? "the Qt Quick window did not render the frame in time"
                                      : "the Qt Quick window's frame was wanted on the main thread";
                    stage = Stage::Failed;
                }
                frame.outcome().drop(failure);
                return;
            }
        }
        // Read: the render thread is done with everything in the ticket.
        const QSize expected(qRound(placement.size.width() * placement.ratio),
                             qRound(placement.size.height() * placement.ratio));
        const QSize pixelSize = result.pixelSize;
        if (std::abs(pixelSize.width() - expected.width()) > 1 ||
            std::abs(pixelSize.height() - expected.height()) > 1) {
            frame.outcome().drop("the Qt Quick window rendered another size than it synchronised");
            return;
        }
        QImage pixels = toImage(result, bottomUp, placement.opaque);
        result.data.clear();
        if (pixels.isNull()) {
            frame.outcome().drop("the Qt Quick window's pixels are in a format not known");
            return;
        }
        QtQuickFrameCapture::addLayer(frame, std::move(pixels), placement, std::move(masks));
    }
};

QtQuickReadback::QtQuickReadback(QQuickWindow* window, const QtItemMasks& masks)
    : QObject(window), window_(window), masks_(&masks) {
    // Called on the thread that renders: the steps of every frame, read back or not, cost a
    // lock and a look while no frame is wanted.
    connect(
        window, &QQuickWindow::afterSynchronizing, this, [this] { synchronised(); },
        Qt::DirectConnection);
    connect(
        window, &QQuickWindow::afterRendering, this, [this] { rendered(); }, Qt::DirectConnection);
    connect(
        window, &QQuickWindow::afterFrameEnd, this, [this] { frameEnded(); }, Qt::DirectConnection);
    connect(
        window, &QQuickWindow::sceneGraphInvalidated, this, [this] { invalidated(); },
        Qt::DirectConnection);
}

QtQuickReadback::~QtQuickReadback() {
    // The window's renderer is gone: nothing writes into the tickets any more.
    detach();
}

QtQuickReadback* QtQuickReadback::find(QQuickWindow* window) {
    if (!window) return nullptr;
    // By its C++ type: it has no meta-object of its own for qobject_cast to tell it by.
    for (QObject* child : window->children()) {
        if (auto* readback = dynamic_cast<QtQuickReadback*>(child)) return readback;
    }
    return nullptr;
}

QtQuickReadback* QtQuickReadback::of(QQuickWindow* window, const QtItemMasks& masks) {
    QtQuickReadback* readback = find(window);
    if (readback) {
        readback->masks_.store(&masks);
        return readback;
    }
    return new QtQuickReadback(window, masks);
}

std::shared_ptr<QtFrame> QtQuickReadback::capture(const QRectF& target, QSize frameSize) {
    auto frame = std::make_shared<QtFrame>(frameSize);
    auto ticket = std::make_shared<Ticket>(target, frameSize);
    std::shared_ptr<Ticket> earlier;
    {
        std::lock_guard lock(mutex_);
        earlier = std::exchange(asked_, ticket);
    }
    if (earlier) earlier->fail("a later frame of the Qt Quick window was asked for");
    // A window where nothing changes renders nothing: it is asked for a frame (from the main
    // thread, so that the items are synchronised into it).
    window_->update();
    frame->setFinish([ticket](QtFrame& f, bool mayWait) { ticket->finish(f, mayWait); });
    return frame;
}

void QtQuickReadback::detach() {
    masks_.store(nullptr);
    std::shared_ptr<Ticket> asked, synced;
    {
        std::lock_guard lock(mutex_);
        asked = std::move(asked_);
        synced = std::move(synced_);
    }
    for (const auto& ticket : {asked, synced}) {
        if (ticket) ticket->fail("the Qt Quick bridge was taken out");
    }
}

void QtQuickReadback::synchronised() {
    std::shared_ptr<Ticket> ticket, earlier;
    {
        std::lock_guard lock(mutex_);
        if (!asked_ && !synced_) return;
        // A frame asked for after the last one was synchronised is the newer.
        if (asked_) earlier = std::exchange(synced_, std::move(asked_));
        ticket = synced_;
    }
    if (earlier) earlier->fail("a later frame of the Qt Quick window was asked for");
    if (ticket->failed()) return;
    // The main thread waits while the items are synchronised (or this is the main thread): the
    // items are read as the frame about to be rendered shows them.
    const QtItemMasks* items = masks_.load();
    if (!items) {
        ticket->fail("the Qt Quick window's masks are not known");
        return;
    }
    ticket->placement =
        QtQuickFrameCapture::Placement::of(window_, ticket->target, ticket->frameSize);
    ticket->masks = ticket->placement.masks(window_, *items, ticket->frameSize);
    ticket->moveTo(Ticket::Stage::Synced);
}

void QtQuickReadback::rendered() {
    std::shared_ptr<Ticket> ticket;
    {
        std::lock_guard lock(mutex_);
        if (!synced_) return;
        ticket = std::move(synced_);
    }
    if (ticket->failed()) return;
    QRhi* rhi = rhiOf(window_);
    auto* swapChain = static_cast<QRhiSwapChain*>(window_->rendererInterface()->getResource(
        window_, QSGRendererInterface::RhiSwapchainResource));
    if (!rhi || !swapChain || !rhi->isRecordingFrame() ||
        !swapChain->flags().testFlag(QRhiSwapChain::UsedAsTransferSource)) {
        ticket->fail("the Qt Quick window's rendering cannot be read back");
        return;
    }
    QRhiResourceUpdateBatch* batch = rhi->nextResourceUpdateBatch();
    if (!batch) {
        ticket->fail("the Qt Quick window's renderer has no room for a read-back");
        return;
    }
    ticket->bottomUp = rhi->isYUpInFramebuffer();
    Ticket* raw = ticket.get();  // kept by reading_ (or stranded_) until it completes
    ticket->result.completed = [raw] { raw->moveTo(Ticket::Stage::Read); };
    ticket->moveTo(Ticket::Stage::Reading);
    // The swap chain's image as this frame left it (its render pass has ended).
    batch->readBackTexture(QRhiReadbackDescription(), &ticket->result);
    swapChain->currentFrameCommandBuffer()->resourceUpdate(batch);
    readBack_.fetch_add(1);
    std::lock_guard lock(mutex_);
    // One whose frame never ended may still be written into: kept until the renderer goes.
    if (reading_) stranded_.push_back(std::move(reading_));
    reading_ = std::move(ticket);
}

void QtQuickReadback::frameEnded() {
    std::shared_ptr<Ticket> ticket;
    {
        std::lock_guard lock(mutex_);
        ticket = std::move(reading_);
    }
    if (!ticket) return;
    // On OpenGL the read-back completed as the frame ended; elsewhere it would complete a frame
    // or two later, which a window where nothing moves may never render.
    if (!ticket->read()) {
        if (QRhi* rhi = rhiOf(window_)) rhi->finish();
    }
    if (!ticket->read()) {
        ticket->fail("the Qt Quick window's read-back did not complete");
        std::lock_guard lock(mutex_);
        stranded_.push_back(std::move(ticket));
    }
}

void QtQuickReadback::invalidated() {
    std::shared_ptr<Ticket> synced, reading;
    std::vector<std::shared_ptr<Ticket>> stranded;
    {
        std::lock_guard lock(mutex_);
        synced = std::move(synced_);
        reading = std::move(reading_);
        stranded.swap(stranded_);
    }
    for (const auto& ticket : {synced, reading}) {
        if (ticket) ticket->fail("the Qt Quick window's scene graph went away");
    }
    if (reading || !stranded.empty())
        RVLog("QtQuickReadback: the window's scene graph went away with a read-back in progress");
}

}  // namespace rivlo
