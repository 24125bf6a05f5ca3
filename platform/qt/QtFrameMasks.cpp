#include "platform/qt/QtFrameMasks.h"

#include <algorithm>
#include <cmath>

namespace rivlo {

namespace {
bool finite(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
           std::isfinite(r.height());
}

// Whole pixels, rounded outwards, so that no edge row or column of the area can show.
QRect outwards(const QRectF& r) {
    const int x0 = static_cast<int>(std::floor(r.left()));
    const int y0 = static_cast<int>(std::floor(r.top()));
    const int x1 = static_cast<int>(std::ceil(r.right()));
    const int y1 = static_cast<int>(std::ceil(r.bottom()));
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}
}  // namespace

QtFrameMasks::QtFrameMasks(QRect frame) : frame_(frame) {}

void QtFrameMasks::add(const QRectF& area, const QTransform& toFrame, const QRectF& clip) {
    if (area.isEmpty()) return;
    // The bounding rectangle of the mapped corners (exact for a transform without rotation).
    const QRectF mapped = toFrame.mapRect(area);
    if (!finite(area) || !finite(mapped) || !finite(clip)) {
        drop("an area to paint over is not a finite rectangle");
        return;
    }
    add(mapped & clip);
}

void QtFrameMasks::add(const QRectF& frameArea) {
    if (!finite(frameArea)) {
        drop("an area to paint over is not a finite rectangle");
        return;
    }
    if (frameArea.isEmpty() || dropped_ || coversAll_) return;
    const QRect whole = outwards(frameArea).adjusted(-margin_, -margin_, margin_, margin_) & frame_;
    if (whole.isEmpty()) return;
    // An area inside the one before it (a widget's part of a masked container) adds nothing.
    if (!areas_.empty() && areas_.back().contains(whole)) return;
    areas_.push_back(whole);
}

void QtFrameMasks::coverAll(const std::string& why) {
    if (dropped_ || coversAll_) return;
    coversAll_ = true;
    reason_ = why;
    areas_.clear();
}

void QtFrameMasks::drop(const std::string& why) {
    if (dropped_) return;
    dropped_ = true;
    reason_ = why;
    areas_.clear();
}

void QtFrameMasks::paint(QImage& image) const {
    if (image.depth() != 32) return;
    const QRect bounds = image.rect();
    auto fill = [&](const QRect& area) {
        const QRect r = area & bounds;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            std::fill(line + r.left(), line + r.right() + 1, kColour);
        }
    };
    if (coversAll_ || dropped_) {
        fill(frame_.isEmpty() ? bounds : frame_);
        return;
    }
    for (const QRect& area : areas_)
        fill(area);
}

}  // namespace rivlo
