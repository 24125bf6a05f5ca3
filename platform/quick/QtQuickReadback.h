#pragma once

#include <QObject>
#include <QRectF>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QQuickWindow;

namespace rivlo {

class QtFrame;
class QtItemMasks;

// Frames of a Qt Quick window on a hardware scene graph (one rendered through QRhi: OpenGL,
// Vulkan), read back from what the window renders anyway instead of rendering it a second time
// for a grab, which would hold the main thread while it renders:
//  - the main thread asks for the window's next frame (capture) and asks the window to render
//    one, so that a window where nothing moves still gives each recorded frame; a window that
//    renders nothing costs nothing between recorded frames, and frames rendered when no recorded
//    frame is wanted are not read back;
//  - as the scene graph synchronises the items into that frame (on the render thread with the
//    main thread waiting, or on the main thread itself), the masks are worked out from the items
//    exactly as they are synchronised; they are worked out again at each synchronisation until
//    a frame is rendered from it;
//  - once the frame is rendered, a read-back of the swap chain's image is added to the frame's
//    commands (on OpenGL it completes as the frame ends; elsewhere the render thread waits for
//    the frame to finish right after it ends, so that no read-back waits on later frames);
//  - the thread that draws the recorded frame (the recorder's, not the main thread) waits for
//    the pixels, turns them the right way up (OpenGL reads rows bottom up) into 32-bit
//    premultiplied pixels, and draws them with their masks.
// A frame whose pixels do not arrive in time, whose masks could not be worked out, whose size
// changed between synchronising and rendering, or whose pixel format is not known, is dropped.
// Lives as a child of its window (its render thread is stopped before the window's children go).
class QtQuickReadback : public QObject {
  public:
    // The reader of `window`, made on first use, drawing the masks of `masks` (the bridge's).
    // Main thread.
    static QtQuickReadback* of(QQuickWindow* window, const QtItemMasks& masks);
    // The reader of `window` if one was made, or null. Main thread.
    static QtQuickReadback* find(QQuickWindow* window);
    ~QtQuickReadback() override;

    // A frame of the window's next rendering drawn into `target` (frame pixels) of a frame of
    // `frameSize` pixels; its pixels and masks arrive when the frame is drawn. Main thread.
    std::shared_ptr<QtFrame> capture(const QRectF& target, QSize frameSize);
    // No masks are known any more (the bridge is going): frames asked for are dropped. Main
    // thread.
    void detach();

    // How many frames were read back so far. Any thread.
    uint64_t readBackCount() const { return readBack_.load(); }

    // How long the thread drawing a recorded frame waits for its pixels, in seconds.
    static constexpr double kWaitSeconds = 1.0;

  private:
    struct Ticket;
    QtQuickReadback(QQuickWindow* window, const QtItemMasks& masks);
    // The scene graph's steps (the render thread, or the main thread with the basic loop).
    void synchronised();
    void rendered();
    void frameEnded();
    void invalidated();

    QQuickWindow* window_;
    std::atomic<const QtItemMasks*> masks_;
    std::atomic<uint64_t> readBack_{0};
    // Guards the tickets below (not what is in them).
    std::mutex mutex_;
    std::shared_ptr<Ticket> asked_;    // waiting for a synchronisation
    std::shared_ptr<Ticket> synced_;   // masks from the latest synchronisation, not rendered yet
    std::shared_ptr<Ticket> reading_;  // read back in the frame being rendered
    // Read-backs that did not complete and that the renderer may still write: kept until it goes.
    std::vector<std::shared_ptr<Ticket>> stranded_;
};

}  // namespace rivlo
