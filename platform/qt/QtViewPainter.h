#pragma once

class QPainter;

namespace rivlo {

class View;

// Paints a view tree the library built itself (the status overlay's window, a bitmap the
// library composes): backgrounds with corner radius and border, alpha, labels' text, subviews
// in order; hidden views are skipped. The painter's origin is the view's bounds origin.
// Any thread that owns the painter.
void paintLibraryViewTree(QPainter& painter, const View& view);

}  // namespace rivlo
