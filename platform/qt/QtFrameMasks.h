#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QTransform>

#include <string>
#include <vector>

namespace rivlo {

// What is painted over in one frame, in the frame's own pixels. It is worked out on the main
// thread at the moment the frame's pixels are taken, with the transform those pixels went
// through, and applied on whichever thread finishes the frame. Nothing in it refers to a widget
// or an item: the Widgets side fills it today and a Qt Quick side fills the same list. A frame
// has one of three outcomes:
//  - areas painted over (opaque pure red, whole pixels, rounded outwards);
//  - the whole frame painted over (a registered window is showing);
//  - dropped: its masks could not be worked out, so it is not sent at all.
// Not thread-safe; handed from the main thread to the frame's thread once filled.
class QtFrameMasks {
  public:
    // The frame's area in frame pixels; every mask is cut to it.
    explicit QtFrameMasks(QRect frame = QRect());
    QRect frame() const { return frame_; }

    // Paints over `area` (coordinates of some source) mapped through `toFrame`, within `clip`
    // (frame pixels). A transform that rotates or shears gives the bounding rectangle of the
    // mapped area: more is painted over, never less. A transform or area that is not finite
    // drops the frame.
    void add(const QRectF& area, const QTransform& toFrame, const QRectF& clip);
    // Paints over an area already in frame pixels.
    void add(const QRectF& frameArea);
    // Every area grows by this many frame pixels on each side: pixels drawn scaled are
    // interpolated from their neighbours, so an area's edge reaches one pixel further.
    void setMargin(int pixels) { margin_ = pixels; }
    // The whole frame is painted over.
    void coverAll(const std::string& why);
    // The frame is not sent: what it shows cannot be checked.
    void drop(const std::string& why);

    bool dropped() const { return dropped_; }
    bool coversAll() const { return coversAll_; }
    const std::string& reason() const { return reason_; }
    const std::vector<QRect>& areas() const { return areas_; }

    // Paints the masks into a 32-bit image whose pixel (0, 0) is the frame's (0, 0) (opaque
    // red, RGB32/ARGB32 byte layout B, G, R, A).
    void paint(QImage& image) const;
    static constexpr QRgb kColour = 0xffff0000;

  private:
    QRect frame_;
    int margin_ = 0;
    std::vector<QRect> areas_;
    bool coversAll_ = false;
    bool dropped_ = false;
    std::string reason_;
};

}  // namespace rivlo
