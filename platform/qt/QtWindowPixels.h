#pragma once

#include <QImage>

class QWidget;

namespace rivlo {

// A top-level widget's pixels as the screen shows them, in device pixels (32-bit ARGB, i.e.
// BGRA in memory). When the window's backing store holds the current picture (nothing waits
// to be repainted, or what waits was just repainted) its image is copied, which costs a
// fraction of painting the window again; otherwise the window is painted with QWidget::render.
// The only user of Qt's private API in the bridge. Main thread.
class QtWindowPixels {
  public:
    enum class Source { None, BackingStore, Render };
    static QImage grab(QWidget* topLevel, Source* source = nullptr);
    // Paints the window into a fresh image (the path taken when the backing store is not usable).
    static QImage render(QWidget* topLevel);
    // Whether the window's backing store holds the current picture now.
    static bool backingStoreIsCurrent(QWidget* topLevel);
};

}  // namespace rivlo
